#include "cmsis_dap/dap_probe_choice.h"

#include "text/format.h"

namespace zorv {
namespace {

bool matches(const DapProbeFound& probe, const DapUsbTarget& target) {
  return (!target.vendor || *target.vendor == probe.vendor) && (!target.product || *target.product == probe.product) &&
         (target.serial.empty() || target.serial == probe.serial);
}

std::string wanted(const DapUsbTarget& target) {
  std::string text = "CMSIS-DAP probe";
  if (target.vendor && target.product) text += format(" %04x:%04x", *target.vendor, *target.product);
  if (!target.serial.empty()) text += " with serial " + target.serial;
  return text;
}

}  // namespace

std::string describeProbe(const DapProbeFound& probe) {
  std::string text = format("%04x:%04x", probe.vendor, probe.product);
  if (!probe.productName.empty()) text += " \"" + probe.productName + "\"";
  if (!probe.serial.empty()) text += " serial " + probe.serial;
  return text + format(" (v%d)", probe.version);
}

int chooseDapProbe(const std::vector<DapProbeFound>& found, const DapUsbTarget& target, std::string& cause) {
  std::vector<int> chosen;
  for (size_t i = 0; i < found.size(); ++i) {
    if (matches(found[i], target)) chosen.push_back(static_cast<int>(i));
  }
  if (chosen.size() == 1) return chosen[0];
  std::string list;
  if (chosen.empty()) {
    for (const DapProbeFound& probe : found) list += (list.empty() ? "" : ", ") + describeProbe(probe);
    cause = "no " + wanted(target) + " found; " +
            (list.empty() ? std::string("no USB interface names CMSIS-DAP") : "found: " + list);
    return -1;
  }
  // Each is named by its USB id where no other has it, else by its id and serial.
  for (const int i : chosen) {
    const DapProbeFound& probe = found[static_cast<size_t>(i)];
    bool idShared = false;
    bool serialShared = probe.serial.empty();
    for (const int j : chosen) {
      const DapProbeFound& other = found[static_cast<size_t>(j)];
      if (i == j || other.vendor != probe.vendor || other.product != probe.product) continue;
      idShared = true;
      serialShared = serialShared || other.serial == probe.serial;
    }
    if (idShared && serialShared) {
      // The probes of this id, which neither the id nor a serial tells apart.
      std::string same;
      int count = 0;
      for (const int k : chosen) {
        const DapProbeFound& other = found[static_cast<size_t>(k)];
        if (other.vendor != probe.vendor || other.product != probe.product) continue;
        same += (same.empty() ? "" : ", ") + describeProbe(other);
        ++count;
      }
      cause = format("%d CMSIS-DAP probes %04x:%04x found that no serial number tells apart (%s): unplug all but one",
                     count, probe.vendor, probe.product, same.c_str());
      return -1;
    }
    std::string text = format("cmsis-dap:%04x:%04x", probe.vendor, probe.product);
    if (idShared) text += ":" + probe.serial;
    list += (list.empty() ? "" : ", ") + text + " for " + describeProbe(probe);
  }
  cause = format("%zu CMSIS-DAP probes found; name one: %s", chosen.size(), list.c_str());
  return -1;
}

}  // namespace zorv
