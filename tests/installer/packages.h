// The packages and payload files the installer tests work with, as Windows paths in the test's
// prefix. The build names them through compile definitions of installer_tests.
#pragma once

#include "reg_support.h"

#include <string>

namespace msitest {

inline const std::wstring kMachinePackage = regtest::WindowsPath(QVR_MSI);
inline const std::wstring kUserPackage = regtest::WindowsPath(QVR_MSI_USER);
inline const std::wstring kOtherBitnessPackage = regtest::WindowsPath(QVR_OTHER_BITNESS_MSI);
inline const std::wstring kOtherBitnessUserPackage = regtest::WindowsPath(QVR_OTHER_BITNESS_USER_MSI);
inline const std::wstring kRebuiltPackage = regtest::WindowsPath(QVR_REBUILT_MSI);
inline const std::wstring kOlderPackage = regtest::WindowsPath(QVR_OLDER_MSI);
inline const std::wstring kNewerPackage = regtest::WindowsPath(QVR_NEWER_MSI);
inline const std::wstring kShippedDll = regtest::WindowsPath(QVR_ADDIN_DLL);
inline const std::wstring kShippedHealthCheck = regtest::WindowsPath(QVR_SHIPPED_HEALTHCHECK);
inline const std::wstring kPackagedUploader = regtest::WindowsPath(QVR_PACKAGED_UPLOADER);
inline const std::wstring kVersion = L"" QVR_VERSION_TEXT;

}  // namespace msitest
