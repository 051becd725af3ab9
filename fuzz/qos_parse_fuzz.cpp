// The QoS rule string (the --qos option: at most 255 characters) as QosFmt
// parses it into the ten-entry table. The table is followed by a guard area
// and pre-filled with a pattern: the parser must leave the guard alone,
// write only the entries the rules reach, and agree with a reference that
// splits the string into rules and tokens and converts with strtoll.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "qos/qos.h"

namespace {

constexpr size_t kOptionWidth = 256;
constexpr int kGuard = 4;
constexpr int32_t kPattern = 0x5a5a5a5a;

// A token as atoi reads it, refused when the number does not fit 32 bits.
bool token_value(const std::string& token, int32_t* value) {
  errno = 0;
  char* end = nullptr;
  long long v = strtoll(token.c_str(), &end, 10);
  if (errno == ERANGE || v > INT32_MAX || v < INT32_MIN) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// Rules are the ';'-ended pieces of the string, tokens the ','-separated
// pieces of a rule; the text after the last ';' is a rule without an end.
int reference(const std::string& rules, std::vector<QosRule>* table, int count) {
  size_t start = 0;
  for (int entry = 0;; ++entry) {
    size_t semi = rules.find(';', start);
    bool ended = semi != std::string::npos;
    std::string rule = rules.substr(start, ended ? semi - start : std::string::npos);
    size_t tstart = 0;
    for (int commas = 0;; ++commas) {
      size_t comma = rule.find(',', tstart);
      std::string token = rule.substr(tstart, comma == std::string::npos ? comma : comma - tstart);
      if (token.size() > 63) return 0;  // no number token is that long
      bool last = comma == std::string::npos;
      if (last && !ended) return 1;        // the end of the string
      if (!last && commas == 2) return 0;  // a third ',' in one rule
      if (entry >= count) return 0;        // a rule beyond the table
      int32_t value;
      if (!token_value(token, &value)) return 0;
      QosRule& r = (*table)[static_cast<size_t>(entry)];
      if (last) {
        r.rate = value;
        break;
      }
      (commas == 0 ? r.firstHost : r.lastHost) = value;
      tstart = comma + 1;
    }
    start = semi + 1;
  }
}

void run(const std::string& rules, size_t len, int count) {
  size_t entries = static_cast<size_t>(count + kGuard);
  fuzz::Block block(entries * sizeof(QosRule));
  auto* table = reinterpret_cast<QosRule*>(block.get());
  std::vector<QosRule> want(entries);
  for (size_t i = 0; i < entries; ++i) table[i] = want[i] = {kPattern, kPattern, kPattern};

  fuzz::Block text(rules.size() + 1);
  fuzz::fill_terminated(&text, rules);
  int got = qos_parse(text.get(), len, table, count);
  std::string c_rules(text.get());
  int ref = reference(c_rules, &want, count);
  FUZZ_CHECK(got == ref, "qos_parse([%s], count %d) gives %d, expected %d",
             fuzz::shown(c_rules).c_str(), count, got, ref);
  for (size_t i = 0; i < entries; ++i) {
    const QosRule& g = table[i];
    const QosRule& w = want[i];
    FUZZ_CHECK(g.firstHost == w.firstHost && g.lastHost == w.lastHost && g.rate == w.rate,
               "%s %zu is %d,%d,%d, expected %d,%d,%d for [%s] (count %d)",
               i < static_cast<size_t>(count) ? "entry" : "guard entry", i, g.firstHost, g.lastHost,
               g.rate, w.firstHost, w.lastHost, w.rate, fuzz::shown(c_rules).c_str(), count);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string rules(reinterpret_cast<const char*>(data),
                    size < kOptionWidth ? size : kOptionWidth - 1);
  run(rules, strlen(rules.c_str()), kQosRuleCount);  // as QosFmt calls it
  run(rules, rules.size(), kQosRuleCount);           // a length past a NUL
  run(rules, rules.size(), static_cast<int>(size % (kQosRuleCount + 1)));
  return 0;
}
