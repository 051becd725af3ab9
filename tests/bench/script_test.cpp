// The pppd options files and the comgt chat script, byte for byte, written
// to their real paths inside the bench, and read back by the real pppd and
// comgt.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "bench_support.h"
#include "dial_files.h"
#include "ppp/ppp.h"

namespace {

const char kOptions[] = "/etc/ppp/options.ppp3g";
const char kOptionsEx[] = "/etc/ppp/options.ppp3g.ex";
const char kChat[] = "/etc/ppp/chat.ppp3g";
const char kLog[] = "/var/log/messages";

using namespace dial_files;

std::string log_of(const std::string& prefix, const std::string& text) {
  std::string out;
  for (const std::string& l : bench::lines_of(text)) out += prefix + l + "\n";
  return out;
}

class Scripts : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_BENCH();
    bench::sh("rm -rf /etc/ppp /var/log/messages && mkdir -p /etc/ppp /var/log");
    bench::clear_journals();
  }
};

TEST_F(Scripts, DefaultFamilyByteForByte) {
  ASSERT_EQ(gen_at_script(1, "/dev/ttyUSB1", "internet", "*99#", "web", "secret"), 1);
  Files expected = gsm("/dev/ttyUSB1", "internet", "*99#", "web", "secret");
  const std::string& chat = expected.chat;
  EXPECT_EQ(bench::read_file(kOptionsEx), expected.options_ex);
  EXPECT_EQ(bench::read_file(kOptions), expected.options);
  EXPECT_EQ(bench::read_file(kChat), chat);
  EXPECT_EQ(bench::lines_of(bench::read_file(kOptions)).size(), 26u);
  EXPECT_EQ(bench::lines_of(chat).size(), 40u);
  EXPECT_EQ(bench::read_file(kLog), log_of("ppp options file: ", bench::read_file(kOptions)) +
                                        log_of("chat file: ", chat));
}

TEST_F(Scripts, EvdoFamilyWritesNoApnAnywhere) {
  ASSERT_EQ(gen_at_script(2, "/dev/ttyUSB0", "never-seen", "#777", "card", "card"), 1);
  std::string head = "/dev/ttyUSB0\n" + kCommonOptions + "user card\npassword card\n" + kPlainOptions;
  std::string chat = kChatHead + step("AT", "OK", "next3") + step("ATDT#777", "CONNECT", "next4") +
                     kChatTail;
  EXPECT_EQ(bench::read_file(kOptionsEx), head);
  EXPECT_EQ(bench::read_file(kOptions), head + connect_lines("/dev/ttyUSB0"));
  EXPECT_EQ(bench::read_file(kChat), chat);
  EXPECT_EQ(bench::lines_of(bench::read_file(kLog)).size(), 48u);
  EXPECT_EQ(bench::read_file(kLog).find("never-seen"), std::string::npos);
}

TEST_F(Scripts, SecondGenerationReplacesTheFirst) {
  gen_at_script(3, "/dev/ttyUSB2", "cmnet", "*98*1#", "u", "p");
  std::string options = bench::read_file(kOptions), chat = bench::read_file(kChat);
  gen_at_script(3, "/dev/ttyUSB2", "cmnet", "*98*1#", "u", "p");
  EXPECT_EQ(bench::read_file(kOptions), options);
  EXPECT_EQ(bench::read_file(kChat), chat);
  EXPECT_EQ(bench::lines_of(bench::read_file(kLog)).size(), 2u * 66u);
}

TEST_F(Scripts, UnknownFamiliesWriteNothing) {
  bench::write_file(kChat, "old\n");
  for (int family : {0, 4, -1}) {
    EXPECT_EQ(gen_at_script(family, "/dev/ttyUSB1", "a", "b", "c", "d"), 0);
  }
  EXPECT_FALSE(bench::exists(kOptions));
  EXPECT_FALSE(bench::exists(kOptionsEx));
  EXPECT_FALSE(bench::exists(kLog));
  EXPECT_EQ(bench::read_file(kChat), "old\n");
}

TEST_F(Scripts, MissingDirectoryStillLogsEveryLine) {
  bench::sh("rm -rf /etc/ppp");
  EXPECT_EQ(gen_at_script(1, "/dev/ttyUSB1", "internet", "*99#", "u", "p"), 0);
  EXPECT_FALSE(bench::exists("/etc/ppp"));
  EXPECT_EQ(bench::lines_of(bench::read_file(kLog)).size(), 66u);
}

// The options files hold the password: root's alone, whatever the umask
// and whatever stood at their names or their temporary names before.
TEST_F(Scripts, OptionsFilesAreRootsAloneAndNewlyMade) {
  bench::sh("touch /tmp/victim && chmod 600 /tmp/victim && ln -s /tmp/victim /etc/ppp/options.ppp3g.new && "
            "ln -s /tmp/victim /etc/ppp/chat.ppp3g.new && printf 'old\\n' >/etc/ppp/options.ppp3g.ex && "
            "chmod 666 /etc/ppp/options.ppp3g.ex && chown 1000:1000 /etc/ppp/options.ppp3g.ex");
  mode_t old_mask = umask(0);
  int written = gen_at_script(1, "/dev/ttyUSB1", "internet", "*99#", "web", "secret");
  umask(old_mask);
  ASSERT_EQ(written, 1);
  EXPECT_EQ(bench::read_file("/tmp/victim"), "");
  for (const char* path : {kOptions, kOptionsEx, kChat}) {
    struct stat st;
    ASSERT_EQ(lstat(path, &st), 0) << path;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
    EXPECT_EQ(st.st_uid, 0u) << path;
    EXPECT_EQ(st.st_mode & 07777, path == kChat ? 0666u : 0600u) << path;
  }
  EXPECT_EQ(bench::read_file(kOptions), gsm("/dev/ttyUSB1", "internet", "*99#", "web", "secret").options);
  EXPECT_EQ(bench::run({"ls", "/etc/ppp"}).output, "chat.ppp3g\noptions.ppp3g\noptions.ppp3g.ex\n");
}

// Values pppd or comgt would misread are written in the form each reads
// back unchanged; an empty user name must not swallow the next line.
TEST_F(Scripts, AwkwardValuesAreQuotedForEachReader) {
  ASSERT_EQ(gen_at_script(1, "/dev/ttyUSB1", "in\"ter\\net^x", "*99#", "", "a b#c"), 1);
  std::string options = bench::read_file(kOptions);
  EXPECT_NE(options.find("\nuser \"\"\npassword \"a b#c\"\n"), std::string::npos);
  EXPECT_NE(bench::read_file(kChat).find("send \"AT+CGDCONT=1,\\\"IP\\\",\\\"in\\\"ter\\\\net\\^x\\\",,0,0^m\"\n"),
            std::string::npos);
}

TEST_F(Scripts, ControlCharactersRefuseTheWholeGeneration) {
  EXPECT_EQ(gen_at_script(1, "/dev/ttyUSB1", "internet", "*99#", "u",
                          "x\nconnect \"/bin/touch /tmp/pwned\""), 0);
  EXPECT_EQ(gen_at_script(2, "/dev/ttyUSB1", "internet", "*99#\r", "u", "p"), 0);
  EXPECT_EQ(gen_at_script(1, "/dev/ttyUSB1", std::string(64, 'a').c_str(), "*99#", "u", "p"), 0);
  EXPECT_FALSE(bench::exists(kOptions));
  EXPECT_FALSE(bench::exists(kChat));
  EXPECT_FALSE(bench::exists(kLog));
  // The EVDO family writes no APN, so a strange one does not stop it.
  EXPECT_EQ(gen_at_script(2, "/dev/ttyUSB1", "bad\napn", "#777", "u", "p"), 1);
}

class RealPeers : public Scripts {
 protected:
  void SetUp() override {
    Scripts::SetUp();
    unlink("/dev/ttyUSB1");
    modem_ = fork();
    if (modem_ == 0) {
      execl("/usr/bin/python3", "python3", LINK3G_SOURCE_DIR "/bench/usb/modem.py", "--link",
            "/dev/ttyUSB1", nullptr);
      _exit(127);
    }
    for (int i = 0; i < 100 && !bench::exists("/dev/ttyUSB1"); ++i) usleep(20000);
    ASSERT_TRUE(bench::exists("/dev/ttyUSB1"));
  }
  void TearDown() override {
    if (modem_ > 0) {
      kill(modem_, SIGTERM);
      waitpid(modem_, nullptr, 0);
    }
    unlink("/dev/ttyUSB1");
  }
  // pppd parses the options file, then fails on the /dev/ppp this kernel
  // lacks; any complaint before that is about our file.
  std::string pppd_complaints(const char* file) {
    bench::Result r = bench::run({"/usr/sbin/pppd", "file", file, "dryrun"});
    r.output += r.errors;
    return r.output.find("/dev/ppp") != std::string::npos &&
                   r.output.find("unrecognized") == std::string::npos &&
                   r.output.find("quote") == std::string::npos
               ? ""
               : r.output;
  }
  pid_t modem_ = -1;
};

TEST_F(RealPeers, PppdAcceptsOrdinaryAndAwkwardValues) {
  for (const char* pass : {"secret", "", "a b#c", "q\"uo'te\\"}) {
    gen_at_script(1, "/dev/ttyUSB1", "internet", "*99#", pass, pass);
    EXPECT_EQ(pppd_complaints(kOptions), "") << pass;
    EXPECT_EQ(pppd_complaints(kOptionsEx), "") << pass;
  }
}

TEST_F(RealPeers, ComgtDialsWithTheExactApn) {
  const std::string apn = "in\"ter\\net^x";
  gen_at_script(1, "/dev/ttyUSB1", apn.c_str(), "*99#", "u", "p");
  bench::Result r = bench::run({"comgt", "-d", "/dev/ttyUSB1", "-s", kChat});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("CONNECTED"), std::string::npos);
  std::string modem = bench::read_file("/bench/journal/modem.log");
  EXPECT_NE(modem.find("AT+CGDCONT=1,\"IP\",\"in\"ter\\\\net^x\",,0,0"), std::string::npos) << modem;
  EXPECT_NE(modem.find("ATDT*99#"), std::string::npos);
}

}  // namespace
