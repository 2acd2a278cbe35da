// EnumerateComPorts: the candidates the Env names, probed when asked, then
// given their friendly names and descriptions.

#include <bplink/comports.h>
#include <bplink/env.h>

#if defined(_WIN32)
#  include <cwchar>
#endif

namespace {

#if defined(_WIN32)
// Every system this library runs on gets the fixed list of COM names (the
// Env's); a registry walk served only systems older than those. The version
// is still asked for: a system that cannot tell it cannot be searched.
void CheckSystemVersion() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
#  if defined(_MSC_VER)
#    pragma warning(suppress : 4996)  // deprecated, but all that is asked is whether it answers
#  endif
  if (!::GetVersionExW(&version)) {
    wchar_t text[64];
    std::swprintf(text, std::size(text), L"Could not get OS version. (err=%lx)",
                  static_cast<unsigned long>(::GetLastError()));
    throw bplink::ComPortError(text);
  }
}
#else
void CheckSystemVersion() {}
#endif

// An empty friendly name becomes the port name, an empty description the
// friendly name, and the description loses its trailing "(...)" part.
void CompleteNames(COMPORT_ENTRY& entry) {
  if (entry.strFriendlyName.empty()) entry.strFriendlyName = entry.strPortName;
  if (entry.strDescription.empty()) entry.strDescription = entry.strFriendlyName;
  entry.strDescription = bplink::ComPortDescription(entry.strDescription);
}

}  // namespace

void EnumerateComPorts(COMPORT_LIST& list, bool bProbe) {
  list.clear();
  CheckSystemVersion();

  bplink::Env* env = bplink::CurrentEnv();
  for (const std::wstring& name : env->ComPortNames()) {
    COMPORT_ENTRY entry;
    entry.strPath = bplink::ComPortPath(name);
    entry.strPortName = name;
    list.push_back(std::move(entry));
  }

  if (bProbe) {
    // In list order; the Env's probe closes each port before the next.
    for (auto it = list.begin(); it != list.end();) {
      if (env->CanOpenComPort(it->strPath))
        ++it;
      else
        it = list.erase(it);
    }
  }

  for (COMPORT_ENTRY& entry : list) CompleteNames(entry);
}

namespace bplink {

std::wstring ComPortDescription(const std::wstring& friendlyName) {
  const std::size_t open = friendlyName.find(L" (");
  const std::size_t close = friendlyName.find(L')');
  if (open != std::wstring::npos && open > 0 && close == friendlyName.size() - 1)
    return friendlyName.substr(0, open);
  return friendlyName;
}

}  // namespace bplink
