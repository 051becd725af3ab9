// /proc/net/dev as the status command reads it for ppp0: fgets pieces of a
// 512-byte buffer, only whole lines (or an unterminated last one) handed to
// the parser. Each line's result must be what splitting it computes: the
// name before the first ':' (leading blanks dropped) is "ppp0", and the
// first and ninth blank-separated fields after it are decimal counters of
// at most 20 digits that fit 64 bits, as are the seven between them. The
// whole reader, served the input in place of the file, must give the first
// line so found, and nothing when there is none or no file.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fake_fopen.h"
#include "fuzz_check.h"
#include "sys/net_dev.h"

namespace {

constexpr size_t kFields = 9;
constexpr size_t kDigitsMax = 20;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

bool counter(const std::string& field, unsigned long long* value) {
  if (field.empty() || field.size() > kDigitsMax) return false;
  unsigned long long v = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    unsigned long long d = static_cast<unsigned long long>(c - '0');
    if (v > (~0ULL - d) / 10) return false;
    v = v * 10 + d;
  }
  *value = v;
  return true;
}

bool expected(const std::string& line, LinkBytes* want) {
  size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  size_t start = 0;
  while (start < colon && is_blank(line[start])) ++start;
  if (line.compare(start, colon - start, "ppp0") != 0 || colon - start != 4) return false;
  std::vector<std::string> fields;
  std::string f;
  for (size_t i = colon + 1; i <= line.size() && fields.size() < kFields; ++i) {
    if (i == line.size() || is_blank(line[i])) {
      if (!f.empty()) fields.push_back(f);
      f.clear();
    } else {
      f += line[i];
    }
  }
  if (fields.size() < kFields) return false;
  unsigned long long v[kFields];
  for (size_t i = 0; i < kFields; ++i) {
    if (!counter(fields[i], &v[i])) return false;
  }
  *want = {1, v[0], v[8]};
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LinkBytes first = {0, 0, 0};
  bool line_start = true;
  size_t consumed = 0;
  fuzz::for_each_fgets_piece(data, size, kNetDevLineSize, [&](const std::string& piece) {
    consumed += piece.size();
    // The reader sees a piece up to its first NUL, as strlen does; fgets
    // meets the end of the file only on a short last piece.
    std::string line = piece.substr(0, piece.find('\0'));
    bool whole = !line.empty() && line.back() == '\n';
    bool at_eof = consumed == size && piece.back() != '\n' && piece.size() < kNetDevLineSize - 1;
    if (line_start && (whole || at_eof)) {
      fuzz::Block buf(line.size());
      memcpy(buf.get(), line.data(), line.size());
      LinkBytes got = {7, 7, 7}, want = {7, 7, 7};
      int ok = parse_net_dev_line(buf.get(), line.size(), "ppp0", &got);
      bool should = expected(line, &want);
      FUZZ_CHECK(ok == (should ? 1 : 0), "parse gives %d for [%s]", ok, fuzz::shown(line).c_str());
      FUZZ_CHECK(got.known == want.known && got.received == want.received && got.sent == want.sent,
                 "counters %llu/%llu, expected %llu/%llu for [%s]", got.received, got.sent, want.received,
                 want.sent, fuzz::shown(line).c_str());
      if (ok && !first.known) first = got;
    }
    line_start = whole;
    return true;
  });

  const std::string file(reinterpret_cast<const char*>(data), size);
  LinkBytes read = {7, 7, 7};
  fuzz::serve_file(kNetDevPath, &file);
  read_net_dev("ppp0", &read);
  FUZZ_CHECK(read.known == first.known, "the reader finds ppp0: %d, expected %d", read.known, first.known);
  if (first.known) {
    FUZZ_CHECK(read.received == first.received && read.sent == first.sent,
               "the reader gives %llu/%llu, expected %llu/%llu", read.received, read.sent, first.received,
               first.sent);
  }
  fuzz::serve_file(kNetDevPath, nullptr);
  read_net_dev("ppp0", &read);
  FUZZ_CHECK(read.known == 0, "ppp0 found without a file");
  return 0;
}
