// What the tests know of the add-in's own configuration (src/addin/AddInModule.form), defined once.
#pragma once

namespace qvrtest {

// The id of the add-in's one button, "Bestelling verwerken", as its stored configuration names it.
inline constexpr wchar_t kAddInButtonId[] = L"qvrRibbonButtonA92C6E14F83B47D0B5E1094D7C26E8F3";

}  // namespace qvrtest
