// Both sides of every Office interface the add-in and the stand-in share, against the published
// type-library facts: each member's vtable slot and each interface's IID. The add-in's declarations
// and the stand-in's are written apart, so that a member out of order on one side fails here
// instead of being repeated by the other and passing every end-to-end test.
#include "com/office.h"
#include "office_api.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

namespace mso = officesim::mso;

// The vtable slot of a virtual member, from its member pointer. GCC's C++ ABI, which mingw-w64
// follows on both targets, stores a virtual member as 1 + the byte offset of its vtable entry
// (odd, where a member function's address is even); a non-virtual member has no slot.
template <typename Class, typename Member>
long SlotOf(Member Class::*member) {
    struct Raw {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    };
    static_assert(sizeof(member) == sizeof(Raw), "a member pointer of GCC's C++ ABI");
    Raw raw;
    std::memcpy(&raw, &member, sizeof raw);
    if ((raw.pointer & 1) == 0 || raw.adjustment != 0) return -1;
    return static_cast<long>((raw.pointer - 1) / sizeof(void*));
}

struct Member {
    const char* name;
    long published;  // the slot in the published type library
    long addIn;      // in the add-in's declaration
    long standIn;    // in the stand-in's
    bool bothSides;  // false: only the add-in declares the interface
};

#define BOTH(Interface, member, slot) \
    Member { #Interface "::" #member, slot, SlotOf(&::Interface::member), SlotOf(&mso::Interface::member), true }
#define ADDIN_ONLY(Interface, member, slot) \
    Member { #Interface "::" #member, slot, SlotOf(&::Interface::member), -1, false }

TEST(OfficeLayout, EveryMemberSitsInItsPublishedSlotOnBothSides) {
    const std::vector<Member> members = {
        BOTH(IDTExtensibility2, OnConnection, 7),
        BOTH(IDTExtensibility2, OnDisconnection, 8),
        BOTH(IDTExtensibility2, OnAddInsUpdate, 9),
        BOTH(IDTExtensibility2, OnStartupComplete, 10),
        BOTH(IDTExtensibility2, OnBeginShutdown, 11),
        BOTH(IRibbonExtensibility, GetCustomUI, 7),
        BOTH(IRibbonUI, Invalidate, 7),
        BOTH(IRibbonUI, InvalidateControl, 8),
        BOTH(IRibbonUI, InvalidateControlMso, 9),
        BOTH(IRibbonUI, ActivateTab, 10),
        BOTH(IRibbonUI, ActivateTabMso, 11),
        BOTH(IRibbonUI, ActivateTabQ, 12),
        BOTH(IRibbonControl, get_Id, 7),
        BOTH(IRibbonControl, get_Context, 8),
        BOTH(IRibbonControl, get_Tag, 9),
        BOTH(COMAddIn, get_Application, 7),
        BOTH(COMAddIn, get_Creator, 8),
        BOTH(COMAddIn, get_Description, 9),
        BOTH(COMAddIn, put_Description, 10),
        BOTH(COMAddIn, get_ProgId, 11),
        BOTH(COMAddIn, get_Guid, 12),
        BOTH(COMAddIn, get_Connect, 13),
        BOTH(COMAddIn, put_Connect, 14),
        BOTH(COMAddIn, get_Object, 15),
        BOTH(COMAddIn, put_Object, 16),
        BOTH(COMAddIn, get_Parent, 17),
        ADDIN_ONLY(ICustomTaskPaneConsumer, CTPFactoryAvailable, 7),
        ADDIN_ONLY(ICTPFactory, CreateCTP, 7),
    };
    for (const Member& m : members) {
        EXPECT_EQ(m.published, m.addIn) << m.name << " in the add-in's declaration (src/com/office.h)";
        if (m.bothSides) {
            EXPECT_EQ(m.published, m.standIn) << m.name << " in the stand-in's declaration (tools/officesim/office_api.h)";
        }
    }
}

// One more virtual member after an interface's own: its slot is the interface's size.
template <typename Interface>
struct After : Interface {
    virtual HRESULT STDMETHODCALLTYPE Next() = 0;
};

TEST(OfficeLayout, NoInterfaceHasMoreMembersThanPublished) {
    // A member added at the end on one side only would pass the table above.
    EXPECT_EQ(12, SlotOf(&After<::IDTExtensibility2>::Next));
    EXPECT_EQ(12, SlotOf(&After<mso::IDTExtensibility2>::Next));
    EXPECT_EQ(8, SlotOf(&After<::IRibbonExtensibility>::Next));
    EXPECT_EQ(8, SlotOf(&After<mso::IRibbonExtensibility>::Next));
    EXPECT_EQ(13, SlotOf(&After<::IRibbonUI>::Next));
    EXPECT_EQ(13, SlotOf(&After<mso::IRibbonUI>::Next));
    EXPECT_EQ(10, SlotOf(&After<::IRibbonControl>::Next));
    EXPECT_EQ(10, SlotOf(&After<mso::IRibbonControl>::Next));
    EXPECT_EQ(18, SlotOf(&After<::COMAddIn>::Next));
    EXPECT_EQ(18, SlotOf(&After<mso::COMAddIn>::Next));
    EXPECT_EQ(7, SlotOf(&After<::ExcelApplication>::Next)) << "Excel is called late bound: no members declared";
    EXPECT_EQ(7, SlotOf(&After<mso::ExcelApplication>::Next));
}

TEST(OfficeLayout, BothSidesUseThePublishedIids) {
    struct Iid {
        const char* name;
        const char* published;
        GUID addIn, standIn;
    };
    auto text = [](const GUID& g) {
        wchar_t buffer[40] = {};
        StringFromGUID2(g, buffer, 40);
        std::string out;
        for (const wchar_t* c = buffer; *c; ++c) out += static_cast<char>(*c);
        return out;
    };
    const Iid iids[] = {
        {"IDTExtensibility2", "{B65AD801-ABAF-11D0-BB8B-00A0C90F2744}", __uuidof(::IDTExtensibility2), __uuidof(mso::IDTExtensibility2)},
        {"IRibbonExtensibility", "{000C0396-0000-0000-C000-000000000046}", __uuidof(::IRibbonExtensibility), __uuidof(mso::IRibbonExtensibility)},
        {"IRibbonUI", "{000C03A7-0000-0000-C000-000000000046}", __uuidof(::IRibbonUI), __uuidof(mso::IRibbonUI)},
        {"IRibbonControl", "{000C0395-0000-0000-C000-000000000046}", __uuidof(::IRibbonControl), __uuidof(mso::IRibbonControl)},
        {"_IMsoDispObj", "{000C0300-0000-0000-C000-000000000046}", __uuidof(::_IMsoDispObj), __uuidof(mso::IMsoDispObj)},
        {"COMAddIn", "{000C033A-0000-0000-C000-000000000046}", __uuidof(::COMAddIn), __uuidof(mso::COMAddIn)},
        {"Excel _Application", "{000208D5-0000-0000-C000-000000000046}", __uuidof(::ExcelApplication), __uuidof(mso::ExcelApplication)},
        {"Excel AppEvents", "{00024413-0000-0000-C000-000000000046}", qvr::office::DIID_AppEvents, mso::DIID_AppEvents},
        {"Excel Application class", "{00024500-0000-0000-C000-000000000046}", qvr::office::CLSID_ExcelApplication, mso::CLSID_ExcelApplication},
        {"Excel _Workbook", "{000208DA-0000-0000-C000-000000000046}", qvr::office::IID_ExcelWorkbook, mso::IID_Workbook},
        {"Excel Window", "{00020893-0000-0000-C000-000000000046}", qvr::office::DIID_ExcelWindow, mso::DIID_Window},
    };
    for (const Iid& i : iids) {
        EXPECT_EQ(i.published, text(i.addIn)) << i.name << " in the add-in's declaration";
        EXPECT_EQ(i.published, text(i.standIn)) << i.name << " in the stand-in's declaration";
    }
}

}  // namespace
