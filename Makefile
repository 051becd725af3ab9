# GNU make build of link3g, for router SDKs (an OpenWrt-style package, a
# uClinux-style user/ folder) and for machines without CMake.
#
#   make [CROSS_COMPILE=mips-linux-uclibc-] [STATIC=1] [WERROR=1] [VERSION=1.2.3]
#   make install [DESTDIR=/path/to/rootfs] [BINDIR=/bin] [SYSCONFDIR=/etc] [MANDIR=/usr/share/man]
#   make romfs ROMFSDIR=/path/to/romfs      (the binary into ROMFSDIR/bin)
#   make clean
#
# The compiler is $(CXX) when one is given, else $(CROSS_COMPILE)g++.
# CPPFLAGS, CXXFLAGS, LDFLAGS and LDLIBS from the environment or the command
# line come on top of the project's own flags, never in their place.
# Objects and the binary go to $(BUILD), build/make unless set.

ifeq ($(origin CXX),default)
CXX = $(CROSS_COMPILE)g++
endif
BUILD ?= build/make
# Where the router keeps its programs (the root file system is small and
# flat), its settings and start scripts, and manual pages.
BINDIR ?= /bin
SYSCONFDIR ?= /etc
INITDIR ?= $(SYSCONFDIR)/init.d
MANDIR ?= /usr/share/man

# Defaults that a user's own flags replace: small code, a stripped binary.
CXXFLAGS ?= -Os
LDFLAGS ?= -s

# The version --version prints: scripts/version's unless given as
# `make VERSION=...` (SDKs often export a VERSION of their own).
ifneq ($(origin VERSION),command line)
VERSION := $(shell sh scripts/version)
endif

# What the code needs whatever the user's flags: flags.mk's list (shared
# with the CMake build), the source folder, the version, threads. Warnings
# are errors only with WERROR=1 (as the project's own builds have them):
# another compiler may warn about more, which must not stop an SDK.
include flags.mk
LINK3G_CPPFLAGS = -Isrc $(LINK3G_DEFINES) -DLINK3G_VERSION="\"$(VERSION)\""
LINK3G_CXXFLAGS += -pthread $(LINK3G_WARNINGS) $(LINK3G_DAEMON_WARNINGS) $(if $(filter 1,$(WERROR)),-Werror)
# Nothing but the C library at run time, or nothing at all with STATIC=1.
LINK3G_LDFLAGS += -pthread $(if $(filter 1,$(STATIC)),-static)

SRCS := $(wildcard src/*/*.cpp)
OBJS := $(SRCS:src/%.cpp=$(BUILD)/%.o)
COMPILE = $(CXX) $(LINK3G_CPPFLAGS) $(CPPFLAGS) $(LINK3G_CXXFLAGS) $(CXXFLAGS)

all: $(BUILD)/link3g

$(BUILD)/link3g: $(OBJS)
	$(CXX) $(CXXFLAGS) $(LINK3G_LDFLAGS) $(LDFLAGS) -o $@ $(OBJS) $(LDLIBS)

$(BUILD)/%.o: src/%.cpp $(BUILD)/flags
	@mkdir -p $(@D)
	$(COMPILE) -MMD -MP -c -o $@ $<

# The compile line as last used: objects are built again when it changes
# (a new version, another compiler or other flags).
$(BUILD)/flags: FORCE
	@mkdir -p $(@D)
	@printf '%s\n' '$(subst ','\'',$(COMPILE))' >$@.new
	@if cmp -s $@.new $@; then rm -f $@.new; else mv -f $@.new $@; fi

-include $(OBJS:.o=.d)

# install-to DIR: the binary into DIR.
define install-to
	install -d '$(1)'
	install -m 0755 $(BUILD)/link3g '$(1)/link3g'
endef

install: install-bin install-init install-conf install-man

install-bin: $(BUILD)/link3g
	$(call install-to,$(DESTDIR)$(BINDIR))

# The start script, told where the binary went.
install-init:
	install -d '$(DESTDIR)$(INITDIR)'
	sed 's|^DAEMON=[^ ]*|DAEMON=$(BINDIR)/link3g|' etc/init.d/link3g >'$(DESTDIR)$(INITDIR)/link3g.new'
	chmod 0755 '$(DESTDIR)$(INITDIR)/link3g.new'
	mv -f '$(DESTDIR)$(INITDIR)/link3g.new' '$(DESTDIR)$(INITDIR)/link3g'

# The example settings only where there are none yet: an install never
# overwrites the router's own. Readable by root alone (password, PIN).
install-conf:
	install -d '$(DESTDIR)$(SYSCONFDIR)'
	test -e '$(DESTDIR)$(SYSCONFDIR)/link3g.conf' || \
	  install -m 0600 etc/link3g.conf '$(DESTDIR)$(SYSCONFDIR)/link3g.conf'

install-man:
	install -d '$(DESTDIR)$(MANDIR)/man8'
	install -m 0644 docs/link3g.8 '$(DESTDIR)$(MANDIR)/man8/link3g.8'

romfs: $(BUILD)/link3g
	@test -n '$(ROMFSDIR)' || { echo 'make romfs: ROMFSDIR is not set' >&2; exit 1; }
	$(call install-to,$(ROMFSDIR)/bin)

clean:
	rm -rf $(BUILD)

.PHONY: all install install-bin install-init install-conf install-man romfs clean FORCE
