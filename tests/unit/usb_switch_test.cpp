// Collecting switch files, and the operator record serialcom leaves.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "usb/operator_profile.h"
#include "usb/usb.h"

namespace {

class SwitchFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    // As long as the real directory's path, so that name limits match.
    char tmpl[] = "/tmp/usbswitch-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = std::string(tmpl) + "/";
    ASSERT_EQ(dir_.size(), strlen(kSwitchFileDir));
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf " + dir_).c_str()), 0); }
  void touch(const std::string& name) { ASSERT_EQ(system(("touch '" + dir_ + name + "'").c_str()), 0); }
  int collect(int vendor, int product) {
    memset(slots_, 0, sizeof slots_);
    return collect_switch_files(dir_.c_str(), vendor, product, slots_, 31);
  }
  std::string dir_;
  char slots_[kSwitchFileSlots][kSwitchFileNameSize];
};

TEST_F(SwitchFiles, OnlyTheSticksOwnFiles) {
  touch("12d1_1446");
  touch("12d1_1446.alt");
  touch("12D1_1446.upper");
  touch("x12d1_1446");
  touch("12d1_1447");
  ASSERT_EQ(mkdir((dir_ + "12d1_1446.dir").c_str(), 0755), 0);
  ASSERT_EQ(symlink("12d1_1447", (dir_ + "12d1_1446.link").c_str()), 0);
  EXPECT_EQ(collect(0x12d1, 0x1446), 3);
  std::string names;
  for (int i = 0; i < 3; ++i) names += std::string(slots_[i]) + " ";
  EXPECT_NE(names.find("12d1_1446 "), std::string::npos);
  EXPECT_NE(names.find("12d1_1446.alt "), std::string::npos);
  EXPECT_NE(names.find("12d1_1446.link "), std::string::npos);
  EXPECT_EQ(slots_[3][0], '\0');
}

TEST_F(SwitchFiles, AtMostThirtyOne) {
  for (int i = 0; i < 40; ++i) touch("19d2_2000." + std::to_string(i));
  EXPECT_EQ(collect(0x19d2, 0x2000), 31);
  EXPECT_EQ(collect(0x19d2, 0x2001), 0);
}

// A name whose path would not fit the 64-byte buffer is never stored: run
// cut short it would be another file.
TEST_F(SwitchFiles, NamesTooLongForThePathAreSkipped) {
  touch("0408_f000" + std::string(32, 'a'));  // 41 characters: path of 63
  touch("0408_f000" + std::string(33, 'b'));  // 42 characters: would not fit
  EXPECT_EQ(collect(0x0408, 0xf000), 1);
  EXPECT_EQ(strlen(slots_[0]), 41u);
}

TEST(SwitchFileDirectory, MissingDirectoryGivesNone) {
  char slots[kSwitchFileSlots][kSwitchFileNameSize];
  EXPECT_EQ(collect_switch_files("/nonexistent/dir/", 0x12d1, 0x1446, slots, 31), 0);
}

OperatorProfile record_with(int32_t family, const char* apn) {
  OperatorProfile r;
  memset(&r, 0, sizeof r);
  r.family = family;
  strncpy(r.apn, apn, sizeof r.apn - 1);
  return r;
}

TEST(OperatorRecord, OpenFamilyIsDecidedByTheApn) {
  OperatorProfile r = record_with(4, "ab");
  resolve_profile_family(&r);
  EXPECT_EQ(r.family, 1);
  r = record_with(4, "a");
  resolve_profile_family(&r);
  EXPECT_EQ(r.family, 2);
  r = record_with(3, "");
  resolve_profile_family(&r);
  EXPECT_EQ(r.family, 3);
  r = record_with(5, "internet");
  resolve_profile_family(&r);
  EXPECT_EQ(r.family, 5);
}

// serialcom writes the family in the router's own byte order at byte 160.
TEST(OperatorRecord, LayoutAndByteOrder) {
  unsigned char bytes[244] = {};
  memcpy(bytes + 96, "cmnet", 5);
  memcpy(bytes + 128, "*98*1#", 6);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  const unsigned char family[4] = {0, 0, 0, 3};
#else
  const unsigned char family[4] = {3, 0, 0, 0};
#endif
  memcpy(bytes + 160, family, 4);
  OperatorProfile r;
  memcpy(&r, bytes, sizeof r);
  EXPECT_EQ(r.family, 3);
  EXPECT_STREQ(r.apn, "cmnet");
  EXPECT_STREQ(r.dial, "*98*1#");
}

TEST(OperatorRecord, TextStopsAtTheFieldsEnd) {
  OperatorProfile r;
  memset(&r, 'x', sizeof r);
  char text[kProfileTextSize];
  profile_text(r.user, text);
  EXPECT_EQ(std::string(text), std::string(32, 'x'));
  memcpy(r.apn, "ab\0cd", 5);
  profile_text(r.apn, text);
  EXPECT_STREQ(text, "ab");
}

}  // namespace
