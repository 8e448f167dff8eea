// The walk's storing of delivered variables into the spool list: variables
// with arbitrary OIDs (mostly inside the profile table), types and value
// lengths, made with the SNMP library's own setters; then the spooled rows
// are merged into a list as the walk does.
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "MibWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const oid table[] = {1, 3, 6, 1, 4, 1, 47291, 1, 1, 1, 1, 6, 13, 1, 1};
  static const u_char types[] = {ASN_INTEGER, ASN_OCTET_STR, ASN_COUNTER, ASN_GAUGE, ASN_TIMETICKS,
                                 ASN_IPADDRESS, ASN_OBJECT_ID, ASN_NULL, ASN_UNSIGNED};
  fuzz::Bytes in(data, size);
  auto spool = std::make_unique<ProfileList>();
  for (int v = 0; v < 32 && !in.empty(); ++v) {
    oid name[40];
    size_t length = 0;
    const uint8_t shape = in.byte();
    if (shape & 1) {
      std::memcpy(name, table, sizeof table);
      length = sizeof table / sizeof table[0];
      name[length++] = in.byte() % 9;  // the column
    }
    for (size_t extra = (shape >> 1) % 8; extra > 0 && length < 40; --extra)
      name[length++] = (shape & 0x80) ? in.u32() : in.byte();
    const uint8_t t = in.byte();
    const u_char type = t < 0xF0 ? types[t % (sizeof types / sizeof types[0])] : t;
    std::string value = in.str(48);
    // Integer-like values are a long, as the library decodes them.
    const bool integer = type == ASN_INTEGER || type == ASN_COUNTER || type == ASN_GAUGE ||
                         type == ASN_TIMETICKS || type == ASN_UNSIGNED;
    if (integer) value.resize(sizeof(long));

    netsnmp_variable_list var;
    std::memset(&var, 0, sizeof var);
    // A type the library does not know keeps its bytes as an octet string.
    const bool known = t < 0xF0;
    if (snmp_set_var_objid(&var, name, length) == 0 &&
        snmp_set_var_typed_value(&var, known ? type : ASN_OCTET_STR, value.data(), value.size()) == 0) {
      var.type = type;
      vSpoolPlist(spool.get(), var.name, var.name_length, &var, 0);
    }
    snmp_free_var_internals(&var);
  }
  if (spool->iNum < 0 || spool->iNum > kProfileSlotCount) abort();
  auto list = std::make_unique<ProfileList>();
  for (int i = 0; i < kProfileSlotCount; ++i) {
    const ProfileEntry& e = spool->entry[i];
    if (!std::memchr(e.FileName, 0, sizeof e.FileName) || !std::memchr(e.ProfileName, 0, sizeof e.ProfileName))
      abort();
    if (e.IndexOnDevice || e.FileName[0]) vRestructDetail(*spool, i, list.get());
  }
  if (list->iNum < 0 || list->iNum > kProfileSlotCount) abort();
  return 0;
}
