#include <stdio.h>
#include <string.h>

#include "qos/qos.h"
#include "sys/shell_quote.h"
#include "sys/shell_run.h"

QosRule qos[kQosRuleCount];

namespace {

constexpr size_t kMinLanPrefix = 3;
constexpr long long kRateScale = 1024;

const char* const kRangeRules[] = {
    "iptables -t mangle -A FORWARD -m iprange --src-range ",
    "iptables -t mangle -A FORWARD -m iprange --dst-range ",
};

bool complete(const QosRule& r) {
  return r.firstHost != 0 && r.lastHost != 0 && r.rate != 0;
}

// The rate times 1024 is computed in 64 bits: a rate of 2097152 or more is
// handed on as the number meant, not as a wrapped 32-bit one.
void add_rules(int qid, const QosRule& r, const char* prefix) {
  for (const char* lead : kRangeRules) {
    doSystemCmd("%s %s%d-%s%d -j ssqos --set-rate %lld --set-qid %d \n", lead, prefix,
                r.firstHost, prefix, r.lastHost, r.rate * kRateScale, qid);
  }
}

}  // namespace

int QosFmt(const char* rules) {
  memset(qos, 0, sizeof qos);
  if (qos_parse(rules, strlen(rules), qos, kQosRuleCount)) return 1;
  printf("cmd fmt error.\n");
  return 0;
}

void InitQos(const char* rules, const char* lanPrefix) {
  if (QosFmt(rules) != 1) {
    printf("Qos Fmt error .\n");
    return;
  }
  doSystemCmd("iptables -t mangle -F FORWARD");
  if (strlen(lanPrefix) < kMinLanPrefix) return;
  // The prefix comes from the command line: the shell must take it as text.
  char prefix[kShellQuotedSize];
  if (!shell_quote(lanPrefix, prefix, sizeof prefix)) return;
  for (int i = 0; i < kQosRuleCount; ++i) {
    const QosRule& r = qos[i];
    printf("%d_%d:%d->%d\n", i, r.firstHost, r.lastHost, r.rate);
    if (complete(r)) add_rules(i, r, prefix);
  }
}
