#include "office_resiliency.h"

#include <cstdio>
#include <cstdlib>

namespace officesim {

namespace {

DWORD g_threshold = 0;
bool g_thresholdSet = false;
// The add-in being loaded, for the crash filter (Excel loads one add-in at a time).
AddInResiliency* g_loading = nullptr;

std::wstring ReadString(HKEY root, const std::wstring& key, const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD bytes = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
        return {};
    return value;
}

bool ReadDword(HKEY root, const std::wstring& key, const wchar_t* name, DWORD* value) {
    DWORD bytes = sizeof(*value);
    return RegGetValueW(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, value, &bytes) == ERROR_SUCCESS;
}

bool WriteValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD bytes) {
    HKEY k = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS) return false;
    const bool ok = RegSetValueExW(k, name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
    RegCloseKey(k);
    return ok;
}

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
    RegDeleteValueW(k, name.c_str());
    RegCloseKey(k);
}

std::wstring Lower(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

void Print(const std::wstring& line) {
    std::fwprintf(stdout, L"%ls\n", line.c_str());
    std::fflush(stdout);
}

// Office's keys: the add-in key (under HKLM or HKCU), and the user's resiliency lists of one version.
std::wstring AddInKey(const std::wstring& progId) { return L"Software\\Microsoft\\Office\\Excel\\AddIns\\" + progId; }
std::wstring Resiliency(const std::wstring& version) {
    return L"Software\\Microsoft\\Office\\" + version + L"\\Excel\\Resiliency";
}

}  // namespace

AddInResiliency::AddInResiliency(std::wstring version, std::wstring progId)
    : version_(std::move(version)), progId_(std::move(progId)) {}

AddInResiliency::~AddInResiliency() {
    if (watching_) {
        SetUnhandledExceptionFilter(previousFilter_);
        g_loading = nullptr;
    }
}

void AddInResiliency::SetSlowStartThreshold(DWORD milliseconds) {
    g_threshold = milliseconds;
    g_thresholdSet = true;
}

DWORD AddInResiliency::SlowStartThreshold() {
    if (g_thresholdSet) return g_threshold;
    wchar_t text[32] = {};
    if (GetEnvironmentVariableW(L"QVR_SLOW_START_MS", text, 32) && text[0] >= L'0' && text[0] <= L'9')
        return static_cast<DWORD>(wcstoul(text, nullptr, 10));
    return 1000;
}

std::wstring AddInResiliency::DllPath() const {
    const std::wstring clsid = ReadString(HKEY_CLASSES_ROOT, progId_ + L"\\CLSID", nullptr);
    return clsid.empty() ? std::wstring() : ReadString(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\InprocServer32", nullptr);
}

std::wstring AddInResiliency::FriendlyName() const {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        std::wstring name = ReadString(root, AddInKey(progId_), L"FriendlyName");
        if (!name.empty()) return name;
    }
    return progId_;
}

std::wstring AddInResiliency::Policy() const {
    const std::wstring key = L"Software\\Policies\\Microsoft\\Office\\" + version_ + L"\\Excel\\Resiliency\\AddinList";
    DWORD value = 0;
    if (ReadDword(HKEY_CURRENT_USER, key, progId_.c_str(), &value)) return std::to_wstring(value);
    return ReadString(HKEY_CURRENT_USER, key, progId_.c_str());
}

// Office's entry: DWORD 1 (an add-in), DWORD byte length of the path and of the friendly name,
// each with its terminator, then the lower-case path and the friendly name in UTF-16.
bool AddInResiliency::HasDisabledItem() const {
    const std::wstring path = Lower(DllPath());
    if (path.empty()) return false;
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (Resiliency(version_) + L"\\DisabledItems").c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    bool found = false;
    for (DWORD i = 0; !found; ++i) {
        wchar_t name[256];
        BYTE data[4096];
        DWORD nameLen = 256, bytes = sizeof data, type = 0;
        const LONG rc = RegEnumValueW(k, i, name, &nameLen, nullptr, &type, data, &bytes);
        if (rc == ERROR_MORE_DATA) continue;  // larger than any entry of Office's: not one
        if (rc != ERROR_SUCCESS) break;
        if (type != REG_BINARY || bytes < 12) continue;
        DWORD kind, pathBytes;
        memcpy(&kind, data, 4);
        memcpy(&pathBytes, data + 4, 4);
        if (kind != 1 || pathBytes < 2 || pathBytes > bytes - 12) continue;
        std::wstring entry(reinterpret_cast<const wchar_t*>(data + 12), pathBytes / 2 - 1);
        found = Lower(entry) == path;
    }
    RegCloseKey(k);
    return found;
}

void AddInResiliency::WriteDisabledItem() const {
    const std::wstring path = Lower(DllPath()), name = FriendlyName();
    const DWORD header[3] = {1, static_cast<DWORD>((path.size() + 1) * 2), static_cast<DWORD>((name.size() + 1) * 2)};
    std::vector<BYTE> blob(reinterpret_cast<const BYTE*>(header), reinterpret_cast<const BYTE*>(header) + sizeof header);
    for (const std::wstring* s : {&path, &name})
        blob.insert(blob.end(), reinterpret_cast<const BYTE*>(s->c_str()), reinterpret_cast<const BYTE*>(s->c_str() + s->size() + 1));
    // Office names its entries with a few random characters.
    wchar_t valueName[16];
    swprintf(valueName, 16, L"%04lx", static_cast<unsigned long>((GetTickCount() ^ GetCurrentProcessId()) & 0xFFFF));
    WriteValue(HKEY_CURRENT_USER, Resiliency(version_) + L"\\DisabledItems", valueName, REG_BINARY, blob.data(),
               static_cast<DWORD>(blob.size()));
}

void AddInResiliency::SetUserLoadBehavior(DWORD value) const {
    WriteValue(HKEY_CURRENT_USER, AddInKey(progId_), L"LoadBehavior", REG_DWORD, &value, sizeof value);
}

std::wstring AddInResiliency::WhyNotLoaded() {
    const std::wstring policy = Policy();
    if (policy == L"0") return L"the administrator's policy turns it off (AddinList " + progId_ + L" = 0)";
    const std::wstring crashes = Resiliency(version_) + L"\\CrashingAddinList";
    DWORD marker = 0;
    if (ReadDword(HKEY_CURRENT_USER, crashes, progId_.c_str(), &marker)) {
        // The last start ended while the add-in was loading: Office asks whether to turn it off;
        // the stand-in answers yes.
        if (!HasDisabledItem() && policy != L"1") WriteDisabledItem();
        DeleteValue(HKEY_CURRENT_USER, crashes, progId_);
    }
    if (policy == L"1") return {};
    DWORD behavior = 0;
    if (!ReadDword(HKEY_CURRENT_USER, AddInKey(progId_), L"LoadBehavior", &behavior) &&
        !ReadDword(HKEY_LOCAL_MACHINE, AddInKey(progId_), L"LoadBehavior", &behavior))
        return L"its add-in key has no LoadBehavior";
    if (behavior != 3) return L"LoadBehavior is " + std::to_wstring(behavior) + L", not 3";
    if (HasDisabledItem()) return L"it is in the list of disabled items (Resiliency\\DisabledItems)";
    return {};
}

LONG WINAPI AddInResiliency::OnCrash(EXCEPTION_POINTERS* info) {
    AddInResiliency* self = g_loading;
    if (self) {
        wchar_t code[16];
        swprintf(code, 16, L"0x%08lX", info && info->ExceptionRecord ? static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode) : 0ul);
        Print(L"Excel crashed (exception " + std::wstring(code) + L") while loading " + self->progId_ +
              L"; Office turns the add-in off (DisabledItems)");
        if (self->Policy() != L"1") self->WriteDisabledItem();
    }
    // Excel is gone; the crash marker stays for the next start, as when Office itself dies.
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

void AddInResiliency::BeginLoad() {
    DWORD one = 1;
    WriteValue(HKEY_CURRENT_USER, Resiliency(version_) + L"\\CrashingAddinList", progId_, REG_DWORD, &one, sizeof one);
    g_loading = this;
    previousFilter_ = SetUnhandledExceptionFilter(&OnCrash);
    watching_ = true;
    QueryPerformanceCounter(&start_);
}

std::vector<std::wstring> AddInResiliency::EndLoad(HRESULT hr) {
    LARGE_INTEGER end, frequency;
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    milliseconds_ = static_cast<double>(end.QuadPart - start_.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    if (watching_) {
        SetUnhandledExceptionFilter(previousFilter_);
        g_loading = nullptr;
        watching_ = false;
    }
    DeleteValue(HKEY_CURRENT_USER, Resiliency(version_) + L"\\CrashingAddinList", progId_);

    std::vector<std::wstring> recorded;
    wchar_t took[32];
    swprintf(took, 32, L"%.1f", milliseconds_);
    recorded.push_back(L"start-up of " + progId_ + L" took " + took + L" ms (threshold " +
                       std::to_wstring(SlowStartThreshold()) + L" ms)");
    if (Policy() == L"1") return recorded;  // always on by policy: nothing is held against it
    if (FAILED(hr)) {
        SetUserLoadBehavior(2);
        recorded.push_back(L"the add-in failed to load; Office sets its LoadBehavior to 2 for this user");
        return recorded;
    }
    if (milliseconds_ > static_cast<double>(SlowStartThreshold())) {
        DWORD ms = static_cast<DWORD>(milliseconds_ + 0.5);
        WriteValue(HKEY_CURRENT_USER, Resiliency(version_) + L"\\SlowStartAddinList", progId_, REG_DWORD, &ms, sizeof ms);
        DWORD keep = 0;
        if (ReadDword(HKEY_CURRENT_USER, Resiliency(version_) + L"\\DoNotDisableAddinList", progId_.c_str(), &keep) && keep == 1) {
            recorded.push_back(L"the start-up was slow; the add-in is in DoNotDisableAddinList, so Office keeps it on");
        } else {
            SetUserLoadBehavior(2);
            recorded.push_back(L"the start-up was slow; Office records it and sets LoadBehavior to 2 for this user");
        }
    }
    return recorded;
}

}  // namespace officesim
