// The DNS query datagram and the name servers of /etc/resolv.conf.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dns/dns.h"
#include "monitor/monitor.h"
#include "sys/line_reader.h"

namespace {

// Reads a QNAME back into dotted text; checks it ends inside the entry.
std::string qname(const DomainQuestion& q, size_t* end) {
  std::string name;
  size_t i = 0;
  while (i < 64 && q.question[i] != 0) {
    size_t n = q.question[i];
    if (!name.empty()) name += '.';
    name.append(reinterpret_cast<const char*>(&q.question[i + 1]), n);
    i += n + 1;
  }
  *end = i + 1;
  return name;
}

TEST(DomainList, SixRealHostQuestionsAndATerminator) {
  for (int i = 0; i < 6; ++i) {
    const DomainQuestion& q = DomainList[i];
    size_t end;
    std::string name = qname(q, &end);
    EXPECT_GT(name.size(), 4u);
    EXPECT_EQ(name.rfind("www.", 0), 0u) << name;
    ASSERT_EQ(static_cast<size_t>(q.length), end + 4) << name;
    const unsigned char type_class[4] = {0, 1, 0, 1};  // A, IN
    EXPECT_EQ(memcmp(&q.question[end], type_class, 4), 0) << name;
  }
  EXPECT_EQ(DomainList[6].length, 0);
}

// Byte order matters here: the header is big-endian on every processor.
TEST(DnsQuery, HeaderCarriesTheRotationIndex) {
  unsigned char out[kDnsQueryMax];
  size_t len = build_dns_query(0, out);
  const unsigned char header0[12] = {0x73, 0x29, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(len, 12u + static_cast<size_t>(DomainList[0].length));
  EXPECT_EQ(memcmp(out, header0, 12), 0);
  EXPECT_EQ(memcmp(out + 12, DomainList[0].question, static_cast<size_t>(DomainList[0].length)), 0);
  len = build_dns_query(5, out);
  EXPECT_EQ(out[0], 0x73);
  EXPECT_EQ(out[1], 0x2e);
  EXPECT_EQ(build_dns_query(6, out), 0u);
  EXPECT_EQ(build_dns_query(7, out), 0u);
}

std::string value_of(const std::string& piece, int* counted) {
  char field[kNameserverFieldSize];
  memset(field, 'x', sizeof field);
  *counted = nameserver_of_piece(piece.data(), piece.size(), field);
  return field;
}

TEST(ResolvConf, NameserverLines) {
  int counted;
  EXPECT_EQ(value_of("nameserver 10.0.0.1\n", &counted), "10.0.0.1");
  EXPECT_EQ(counted, 1);
  EXPECT_EQ(value_of("nameserver\t 8.8.8.8 # comment\n", &counted), "8.8.8.8");
  EXPECT_EQ(value_of("nameserver\n", &counted), "");
  EXPECT_EQ(counted, 1);
  EXPECT_EQ(value_of(" nameserver 1.1.1.1\n", &counted), "");
  EXPECT_EQ(counted, 0);
  EXPECT_EQ(value_of("search lan\n", &counted), "");
  EXPECT_EQ(counted, 0);
}

TEST(ResolvConf, OverlongValuesAreDropped) {
  int counted;
  EXPECT_EQ(value_of("nameserver " + std::string(23, '1') + "\n", &counted), std::string(23, '1'));
  EXPECT_EQ(value_of("nameserver " + std::string(24, '1') + "\n", &counted), "");
  EXPECT_EQ(counted, 1);
}

TEST(ResolvConf, OnlyIpv4AddressesAreUsable) {
  EXPECT_EQ(usable_nameserver("10.64.64.1"), 1);
  EXPECT_EQ(usable_nameserver("1.2.3.4"), 1);
  EXPECT_EQ(usable_nameserver("1.2.3"), 0);
  EXPECT_EQ(usable_nameserver("fe80::1"), 0);
  EXPECT_EQ(usable_nameserver("2001:db8::53"), 0);
  EXPECT_EQ(usable_nameserver("1.2.3.4;reboot"), 0);
  EXPECT_EQ(usable_nameserver("999.1.1.1"), 0);
  EXPECT_EQ(usable_nameserver(""), 0);
}

// /etc/resolv.conf is read in the pieces fgets() would give (a long line
// arrives as several pieces, each taken as a line): the reader without
// stdio must cut every file exactly as fgets does, for every piece size.
TEST(ResolvConf, PiecesAsFgetsGivesThem) {
  char path[] = "/tmp/link3g-pieces.XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string text = "nameserver 10.0.0.1\n\n" + std::string(300, 'x') + "\nnameserver 10.0.0.2";
  text += std::string(1, '\0') + "tail";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  for (size_t size : {2u, 3u, 17u, 64u, 255u, 256u, 257u, 600u}) {
    std::vector<std::string> want, got;
    FILE* f = fopen(path, "r");
    ASSERT_NE(f, nullptr);
    std::vector<char> piece(size + 1, '#');
    while (fgets(piece.data(), static_cast<int>(size), f) != nullptr) want.emplace_back(piece.data(), size);
    fclose(f);
    LineReader r;
    ASSERT_EQ(line_reader_open(&r, path), 1);
    std::fill(piece.begin(), piece.end(), '#');
    while (line_reader_piece(&r, piece.data(), size)) got.emplace_back(piece.data(), size);
    line_reader_close(&r);
    EXPECT_EQ(got, want) << "piece size " << size;
    EXPECT_EQ(piece[size], '#');  // never past the piece
  }
  unlink(path);
  LineReader none;
  EXPECT_EQ(line_reader_open(&none, "/nonexistent/resolv.conf"), 0);
}

}  // namespace
