// The modem family: which chat script and options a stick is dialled with.
// Detection decides it, the dial writers take it, the status shows it.
#pragma once

enum ModemFamily : int {
  kFamilyNone = -1,     // a detection result: undecided, nothing to write
  kFamilyInRecord = 0,  // a detection result: the family is in the operator record
  kFamilyGsm = 1,       // GSM/HSDPA
  kFamilyEvdo = 2,      // CDMA EVDO
  kFamilyTdScdma = 3,   // TD-SCDMA
  kFamilyOpen = 4,      // inside an operator record: GSM or EVDO by its APN
};

// Families a dial configuration is written for: kFamilyGsm .. kFamilyTdScdma.
constexpr int kDialFamilyEnd = kFamilyTdScdma + 1;
