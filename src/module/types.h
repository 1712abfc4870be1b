// Types the module shares with the server and the ribbon: host kinds and their table, start
// modes, the Office colour scheme.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>

namespace qvr {

enum TqvrOfficeHostApp : uint8_t {
    ohaExcel = 0,
    ohaWord,
    ohaOutlook,
    ohaPowerPoint,
    ohaAccess,
    ohaProject,
    ohaFrontPage,
    ohaMapPoint,
    ohaVisio,
    ohaPublisher,
    ohaInfoPath,
    ohaOneNote,
};
inline constexpr int kHostCount = 12;

// Set of hosts, bit n = host n.
struct TqvrHostAppSet {
    uint16_t bits = 0;
    constexpr TqvrHostAppSet() = default;
    constexpr explicit TqvrHostAppSet(uint16_t b) : bits(b) {}
    constexpr TqvrHostAppSet(std::initializer_list<TqvrOfficeHostApp> hosts) {
        for (auto h : hosts) bits = static_cast<uint16_t>(bits | (1u << h));
    }
    constexpr bool Contains(TqvrOfficeHostApp h) const { return (bits >> h) & 1u; }
    constexpr bool Empty() const { return bits == 0; }
    constexpr bool operator==(const TqvrHostAppSet&) const = default;
};

enum TqvrStartMode : uint8_t {
    smFirstStart = 0,
    smNormal,
    smUninstall,
    // A stored "QVRStartMode" text that names none of the three.
    smUnrecognized = 0xFF,
};

enum TqvrHostStartMode : uint8_t { hsmUnknown = 0, hsmFromUI, hsmEmbeddedDocument, hsmProgrammatically };

enum class TqvrOfficeColorScheme : uint8_t { Unknown = 0, Blue, Silver, Black, White, LightGray, DarkGray, Colorful };

enum TqvrOutlookShutdownBehavior : uint8_t { osSlow = 0, osFast };

struct HostInfo {
    const wchar_t* enumerator;    // "ohaExcel"
    const wchar_t* registryName;  // "Excel"
    const wchar_t* progId;        // "Excel.Application"
    bool officeKeyForm;           // "\Software\Microsoft\Office\..." rather than "\Software\Microsoft\..."
};

inline constexpr HostInfo kHosts[kHostCount] = {
    {L"ohaExcel", L"Excel", L"Excel.Application", true},
    {L"ohaWord", L"Word", L"Word.Application", true},
    {L"ohaOutlook", L"Outlook", L"Outlook.Application", true},
    {L"ohaPowerPoint", L"PowerPoint", L"PowerPoint.Application", true},
    {L"ohaAccess", L"Access", L"Access.Application", true},
    {L"ohaProject", L"MS Project", L"MSProject.Application", true},
    {L"ohaFrontPage", L"FrontPage", L"FrontPage.Application", true},
    {L"ohaMapPoint", L"MapPoint", L"MapPoint.Application", false},
    {L"ohaVisio", L"Visio", L"Visio.Application", false},
    {L"ohaPublisher", L"Publisher", L"Publisher.Application", true},
    {L"ohaInfoPath", L"InfoPath", L"InfoPath.Application", true},
    {L"ohaOneNote", L"OneNote", L"OneNote.Application", true},
};

}  // namespace qvr
