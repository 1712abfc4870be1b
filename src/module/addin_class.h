// What a module needs of the COM class that connects it or registers it: its program id and its
// add-in keys. The server's class factory implements it, so that the module names its class
// without knowing the server.
#pragma once

#include "module/types.h"

#include <string>

namespace qvr {

class IqvrAddInClass {
public:
    // "Library.Class", the first part being the type library's name.
    virtual std::wstring ProgID() const = 0;
    // The add-in key path of a host, absolute from the hive root.
    virtual std::wstring GetRegKey(TqvrOfficeHostApp index) const = 0;

protected:
    ~IqvrAddInClass() = default;
};

// The first class the process's COM server serves: it names a module that no class connected.
// Kept by the server while it exists; nullptr without one.
IqvrAddInClass* FirstServerClass() noexcept;
void SetFirstServerClass(IqvrAddInClass* addInClass) noexcept;

}  // namespace qvr
