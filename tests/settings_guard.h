// tests/settings_guard.h: tests that change the process-wide settings restore
// them afterwards, so test order never matters.
#ifndef COMBOSIM_TESTS_SETTINGS_GUARD_H_
#define COMBOSIM_TESTS_SETTINGS_GUARD_H_

#include "records/trialstate.h"

class SettingsGuard {
 public:
  SettingsGuard() : saved_(settings) {}
  ~SettingsGuard() { settings = saved_; }
  SettingsGuard(const SettingsGuard&) = delete;
  SettingsGuard& operator=(const SettingsGuard&) = delete;

 private:
  SimulationSettings saved_;
};

#endif  // COMBOSIM_TESTS_SETTINGS_GUARD_H_
