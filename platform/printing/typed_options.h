// The PPD's typed options: one-parameter custom options through which
// dialogs other than ours (GTK's, Qt's, lp -o KEY=Custom.VALUE) carry the
// values typed into the Security panel's fields. Our filter at the print
// server reads them and fills the panel's fields with them; our own hosts
// never show them and never send them (the panel writes the encrypted
// ticket instead, so a clear password never leaves our dialog).
#pragma once

#include <string_view>

namespace pm {

struct TypedOption {
  const char* keyword;  // PPD main keyword; its choice "None" is an empty field
  const char* control;  // the panel field's view identifier (the --set KEY)
  const char* param;    // the *ParamCustomKEY name of the typed value
};

inline constexpr TypedOption kTypedOptions[] = {
    {"R2740DocumentPassword", "jp.orvessa.printers.R2740.secureKey", "Password"},
    {"R2740UserName", "jp.orvessa.printers.R2740.userName", "Name"},
    {"R2740UserPassword", "jp.orvessa.printers.R2740.userKey", "Password"},
    {"R2740SectionName", "jp.orvessa.printers.R2740.sectionName", "Name"},
    {"R2740SectionPassword", "jp.orvessa.printers.R2740.sectionKey", "Password"},
};

// The entry of a PPD main keyword (exact bytes, as PPD keywords are
// case-sensitive); null for any other name.
constexpr const TypedOption* FindTypedOption(std::string_view keyword) {
  for (const TypedOption& t : kTypedOptions)
    if (keyword == t.keyword) return &t;
  return nullptr;
}

}  // namespace pm
