// Tagvert: tagvert register / tagvert unregister (Windows).
// SPDX-License-Identifier: Apache-2.0
#include "cli/register_command.h"

#ifdef _WIN32
#include <objbase.h>
#include <windows.h>

#include "cli/messages.h"
#include "storage/char_class.h"
#endif

namespace tagvert::cli {

#ifdef _WIN32
namespace {

std::u16string Utf16(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}

// tagvert.dll in the folder of the running program.
std::wstring DefaultDll() {
  std::wstring path(MAX_PATH, L'\0');
  DWORD length = 0;
  while ((length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) >=
         path.size()) {
    path.resize(path.size() * 2);
  }
  path.resize(length);
  const std::size_t slash = path.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) +
         L"tagvert.dll";
}

std::string DescribeRegistrationFailure(HRESULT hr) {
  switch (static_cast<std::uint32_t>(hr)) {
    case 0x80070005:  // E_ACCESSDENIED
      return "access to the registry was denied (an administrator must run it)";
    case 0x8002801C:  // TYPE_E_REGISTRYACCESS
      return "the type library could not be written to the registry";
    case 0x80020009:  // DISP_E_EXCEPTION: the registry script did not parse
      return "the DLL's registry script is damaged";
    default:
      // A system error of the registry is named by its code, not as a file's cause.
      return NamesSystemCause(hr) ? "unexpected failure " + Hex(hr) : ErrorPhrase(hr);
  }
}

}  // namespace

std::optional<ExitCode> RunRegistrationCommand(const std::vector<std::string>& args,
                                               std::ostream& out, std::ostream& err) {
  if (args.empty() || (args[0] != "register" && args[0] != "unregister")) return std::nullopt;
  const bool registering = args[0] == "register";
  if (args.size() > 2) return UsageError(err, args[0] + " takes at most the DLL's path.");
  std::wstring dll = DefaultDll();
  if (args.size() == 2) {
    const std::u16string given = Utf8ToUtf16(args[1]);
    dll.assign(given.begin(), given.end());
  }
  const std::string name = Utf16ToUtf8(Utf16(dll));
  const HMODULE module = ::LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    const DWORD error = ::GetLastError();
    err << "tagvert: cannot load " << name << ": "
        << (error == ERROR_MOD_NOT_FOUND ? "the file or a DLL it needs does not exist"
            : error == ERROR_BAD_EXE_FORMAT
                ? "it is not a DLL for this program (32-bit and 64-bit do not mix)"
                : "Windows error " + std::to_string(error))
        << ".\n";
    return ExitCode::Failed;
  }
  const char* exportName = registering ? "DllRegisterServer" : "DllUnregisterServer";
  using Entry = HRESULT(STDAPICALLTYPE*)();
  const auto entry =
      reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(module, exportName)));
  if (entry == nullptr) {
    ::FreeLibrary(module);
    err << "tagvert: " << name << " has no " << exportName << " export.\n";
    return ExitCode::Failed;
  }
  const HRESULT initialized = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const HRESULT hr = entry();
  if (SUCCEEDED(initialized)) ::CoUninitialize();
  ::FreeLibrary(module);
  if (FAILED(hr)) {
    err << "tagvert: the " << (registering ? "registration" : "unregistration") << " of " << name
        << " failed: " << DescribeRegistrationFailure(hr) << ".\n";
    return ExitCode::Failed;
  }
  out << (registering ? "registered " : "unregistered ") << name << "\n";
  return ExitCode::Success;
}

#else

std::optional<ExitCode> RunRegistrationCommand(const std::vector<std::string>& args, std::ostream&,
                                               std::ostream& err) {
  if (args.empty() || (args[0] != "register" && args[0] != "unregister")) return std::nullopt;
  return UsageError(err, args[0] + " exists only on Windows, where the converter is a COM server.");
}

#endif

}  // namespace tagvert::cli
