// The parts of the store that both builds share: the property-list form,
// the reads, the consistency check and the list maintenance passes.
#include "QVPList.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cf/plist.h"

char cIndexOnDeviceKey[] = "IndexOnDevice";
char cInMenuKey[] = "InMenu";
char cProfileClassKey[] = "ProfileClass";
char cFileNameKey[] = "FileName";
char cProfileNameKey[] = "ProfileName";
char cLocationKey[] = "Location";
char cPlistVersionKey[] = "PlistVersion";

namespace {

constexpr const char* kListKeys[3] = {"RGB", "SIM", "DST"};
constexpr const char* kNumKey = "iNum";

bool ValidKind(int kind) { return kind >= kProfileListRGB && kind <= kProfileListDST; }

// "<base><slot as 4 digits>"; by hand, as a file of 9000 keys spent a
// quarter of its write in snprintf.
void SlotKey(char (&buf)[48], const char* base, int slot) {
  if (slot < 0 || slot > 9999) {
    std::snprintf(buf, sizeof buf, "%s%04d", base, slot);
    return;
  }
  size_t n = strnlen(base, sizeof buf - 5);
  std::memcpy(buf, base, n);
  for (size_t i = 4; i-- > 0; slot /= 10) buf[n + i] = static_cast<char>('0' + slot % 10);
  buf[n + 4] = '\0';
}

void ClearEntry(ProfileEntry* e) { std::memset(e, 0, sizeof *e); }

bool HasLists(const cf::DictionaryRef& root);

// The root dictionary of a file; `there`: the file exists (a file larger
// than any profile file too), whatever it holds.
cf::DictionaryRef RootOfFile(const std::string& path, bool* there) {
  if (there) *there = false;
  if (path.empty()) return nullptr;
  auto bytes = QVPListReadFile(path.c_str());
  if (there) *there = bytes || errno == EFBIG;
  if (!bytes) return nullptr;
  return cf::As<cf::Dictionary>(cf::PropertyListCreateWithData(*bytes));
}

cf::DictionaryRef RootOfCurrentFile() {
  bool there = false;
  auto root = RootOfFile(QVPListCurrentPath(), &there);
#if !QV_PLIST_SERVICE_BUILD
  // A current file that went bad is put aside at the dialog's backup step,
  // which puts a backup that reads in its place: until then the dialog
  // reads that backup, so its menus already show what the file will hold.
  if (there && !HasLists(root))
    if (auto prev = RootOfFile(QVPListPrevPath(), nullptr); HasLists(prev)) return prev;
#endif
  return root;
}

struct FieldDicts {
  cf::DictionaryRef index, inMenu, cls, location, fileName, profileName;
};

// The class dictionary of a kind, with its six field dictionaries; false
// when anything is missing.
bool ClassFields(const cf::DictionaryRef& root, int kind, FieldDicts* f, cf::DictionaryRef* classDict) {
  if (!root) return false;
  auto cls = root->get<cf::Dictionary>(kListKeys[kind]);
  if (!cls) return false;
  if (QVPListMappingGetSubDict(cls, &f->index, &f->inMenu, &f->cls, &f->location, &f->fileName, &f->profileName,
                               nullptr) != 0)
    return false;
  *classDict = cls;
  return true;
}

bool HasLists(const cf::DictionaryRef& root) {
  FieldDicts f;
  cf::DictionaryRef cls;
  for (int k = 0; k < 3; ++k)
    if (!ClassFields(root, k, &f, &cls)) return false;
  return true;
}

void ReadSlotRest(const FieldDicts& f, int slot, ProfileEntry* e) {
  char key[48];
  SlotKey(key, cIndexOnDeviceKey, slot);
  ReadDictionaryIntEntry(f.index, key, &e->IndexOnDevice);
  SlotKey(key, cProfileClassKey, slot);
  ReadDictionaryIntEntry(f.cls, key, &e->ProfileClass);
  SlotKey(key, cFileNameKey, slot);
  ReadDictionaryStringEntry(f.fileName, key, e->FileName);
  SlotKey(key, cProfileNameKey, slot);
  ReadDictionaryStringEntry(f.profileName, key, e->ProfileName);
  SlotKey(key, cLocationKey, slot);
  ReadDictionaryIntEntry(f.location, key, &e->Location);
}

void FillList(const cf::DictionaryRef& cls, const FieldDicts& f, ProfileList* list) {
  for (int i = 0; i < kProfileSlotCount; ++i) {
    char key[48];
    SlotKey(key, cInMenuKey, i);
    ReadDictionaryIntEntry(f.inMenu, key, &list->entry[i].InMenu);
    ReadSlotRest(f, i, &list->entry[i]);
  }
  ReadDictionaryIntEntry(cls, kNumKey, &list->iNum);
  QVPlistCheckWithInMenu_Dict(list);
}

cf::StringRef Utf8OrNull(const char* field) {
  return cf::String::createWithBytes(field, strnlen(field, 32), cf::kCFStringEncodingUTF8);
}

}  // namespace

bool QVPListSameProfile(const ProfileEntry& a, const ProfileEntry& b) {
  return a.Location == b.Location && std::strncmp(a.FileName, b.FileName, sizeof a.FileName) == 0;
}

int QVPListUsedCount(const ProfileList* list) { return std::clamp<int32_t>(list->iNum, 0, kProfileSlotCount); }

// ---- device file names ---------------------------------------------------------

int FileNameFilter(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 0x80) return 0;
  if (std::isalnum(u)) return 1;
  return std::strchr("!#$%&'()-.^_`{}~", c) != nullptr && c != '\0' ? 1 : 0;
}

int bJudgement8point3Format(const char* name) {
  if (!name || !*name) return 0;
  size_t len = strnlen(name, 64);
  for (size_t i = 0; i < len; ++i)
    if (!FileNameFilter(name[i])) return 0;
  const char* dot = static_cast<const char*>(std::memchr(name, '.', len));
  if (!dot) return len <= 27 ? 1 : 0;
  size_t base = static_cast<size_t>(dot - name);
  size_t ext = len - base - 1;
  return base >= 1 && base <= 27 && ext <= 3 ? 1 : 0;
}

// ---- property-list form ----------------------------------------------------------

void ReadDictionaryIntEntry(const cf::DictionaryRef& dict, const char* key, int32_t* dest) {
  if (!dict || !key || !dest) return;
  if (auto n = dict->get<cf::Number>(key)) *dest = n->sint32Value();
}

void ReadDictionaryStringEntry(const cf::DictionaryRef& dict, const char* key, char dest[32]) {
  if (!dict || !key || !dest) return;
  auto s = dict->get<cf::String>(key);
  if (!s) return;
  const std::string& bytes = s->utf8();
  size_t n = std::min<size_t>(bytes.size(), 31);
  std::memset(dest, 0, 32);
  std::memcpy(dest, bytes.data(), n);
}

cf::DictionaryRef CreatePropsDictionary(int kind, const ProfileList* list, cf::DictionaryRef* classDict,
                                        cf::DictionaryRef* indexOnDevice, cf::DictionaryRef* inMenu,
                                        cf::DictionaryRef* profileClass, cf::DictionaryRef* location,
                                        cf::DictionaryRef* fileName, cf::DictionaryRef* profileName) {
  auto wrapper = cf::Dictionary::create();
  if (!ValidKind(kind) || !list) return wrapper;
  auto idx = cf::Dictionary::create(), menu = cf::Dictionary::create(), cls = cf::Dictionary::create(),
       loc = cf::Dictionary::create(), file = cf::Dictionary::create(), name = cf::Dictionary::create();
  for (int i = 0; i < kProfileSlotCount; ++i) {
    const ProfileEntry& e = list->entry[i];
    char key[48];
    SlotKey(key, cIndexOnDeviceKey, i);
    idx->setValue(key, cf::num(e.IndexOnDevice));
    SlotKey(key, cInMenuKey, i);
    menu->setValue(key, cf::num(e.InMenu));
    SlotKey(key, cProfileClassKey, i);
    cls->setValue(key, cf::num(e.ProfileClass));
    SlotKey(key, cLocationKey, i);
    loc->setValue(key, cf::num(e.Location));
    // A field that is not valid UTF-8 (a cut through a character) gets no key.
    SlotKey(key, cFileNameKey, i);
    if (auto s = Utf8OrNull(e.FileName)) file->setValue(key, s);
    SlotKey(key, cProfileNameKey, i);
    if (auto s = Utf8OrNull(e.ProfileName)) name->setValue(key, s);
  }
  auto classD = cf::Dictionary::create();
  classD->setValue(kNumKey, cf::num(list->iNum));
  classD->setValue(cIndexOnDeviceKey, idx);
  classD->setValue(cInMenuKey, menu);
  classD->setValue(cProfileClassKey, cls);
  classD->setValue(cLocationKey, loc);
  classD->setValue(cFileNameKey, file);
  classD->setValue(cProfileNameKey, name);
  wrapper->setValue(kListKeys[kind], classD);
  if (classDict) *classDict = classD;
  if (indexOnDevice) *indexOnDevice = idx;
  if (inMenu) *inMenu = menu;
  if (profileClass) *profileClass = cls;
  if (location) *location = loc;
  if (fileName) *fileName = file;
  if (profileName) *profileName = name;
  return wrapper;
}

cf::DictionaryRef QVPListCreateRootDictionary(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst) {
  if (!rgb || !sim || !dst) return nullptr;
  const ProfileList* lists[3] = {rgb, sim, dst};
  auto root = cf::Dictionary::create();
  for (int k = 0; k < 3; ++k) {
    cf::DictionaryRef classDict;
    CreatePropsDictionary(k, lists[k], &classDict, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    root->setValue(kListKeys[k], classDict);
  }
  root->setValue(cPlistVersionKey, cf::num(1));
  return root;
}

std::string QVPListCreateXMLText(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst) {
  auto root = QVPListCreateRootDictionary(rgb, sim, dst);
  if (!root) return {};
  auto xml = cf::PropertyListCreateXMLData(root);
  return xml ? *xml : std::string();
}

int QVPListMappingGetMainDict_FromPlist(cf::DictionaryRef* rgb, cf::DictionaryRef* sim, cf::DictionaryRef* dst) {
  auto root = RootOfCurrentFile();
  if (!root) return -1;
  cf::DictionaryRef found[3];
  for (int k = 0; k < 3; ++k) {
    found[k] = root->get<cf::Dictionary>(kListKeys[k]);
    if (!found[k]) return -1;
  }
  if (rgb) *rgb = cf::As<cf::Dictionary>(cf::DeepCopy(found[0]));
  if (sim) *sim = cf::As<cf::Dictionary>(cf::DeepCopy(found[1]));
  if (dst) *dst = cf::As<cf::Dictionary>(cf::DeepCopy(found[2]));
  return 0;
}

int QVPListMappingGetSubDict(const cf::DictionaryRef& classDict, cf::DictionaryRef* indexOnDevice,
                             cf::DictionaryRef* inMenu, cf::DictionaryRef* profileClass, cf::DictionaryRef* location,
                             cf::DictionaryRef* fileName, cf::DictionaryRef* profileName, int32_t* iNum) {
  if (!classDict) return -1;
  struct {
    const char* key;
    cf::DictionaryRef* out;
  } fields[] = {{cIndexOnDeviceKey, indexOnDevice}, {cInMenuKey, inMenu},     {cProfileClassKey, profileClass},
                {cLocationKey, location},           {cFileNameKey, fileName}, {cProfileNameKey, profileName}};
  for (auto& f : fields) {
    auto d = classDict->get<cf::Dictionary>(f.key);
    if (!d) return -1;
    if (f.out) *f.out = d;
  }
  if (iNum) ReadDictionaryIntEntry(classDict, kNumKey, iNum);
  return 0;
}

// ---- reads ----------------------------------------------------------------------

bool QVPListHoldsLists(const std::string& bytes) {
  return HasLists(cf::As<cf::Dictionary>(cf::PropertyListCreateWithData(bytes)));
}

bool QVPListIsUnreadable(const char* path) {
  bool there = false;
  auto root = RootOfFile(path ? path : "", &there);
  return there && !HasLists(root);
}

int QVPListReadProfile_All(ProfileList* rgb, ProfileList* sim, ProfileList* dst) {
  if (!rgb || !sim || !dst) return -1;
  auto root = RootOfCurrentFile();
  FieldDicts f[3];
  cf::DictionaryRef cls[3];
  // Check the whole structure before anything is filled.
  for (int k = 0; k < 3; ++k)
    if (!ClassFields(root, k, &f[k], &cls[k])) return -1;
  ProfileList* lists[3] = {rgb, sim, dst};
  for (int k = 0; k < 3; ++k) FillList(cls[k], f[k], lists[k]);
  return 0;
}

int QVPListReadProfile_Dict(ProfileList* list, int kind) {
  if (!list || !ValidKind(kind)) return -1;
  auto root = RootOfCurrentFile();
  FieldDicts f;
  cf::DictionaryRef cls;
  if (!ClassFields(root, kind, &f, &cls)) return -1;
  FillList(cls, f, list);
  return 0;
}

int QVPListReadProfile_Dict_Pap(ProfileList* list, int kind) {
  if (!list || !ValidKind(kind)) return -1;
  auto root = RootOfCurrentFile();
  FieldDicts f;
  cf::DictionaryRef cls;
  if (!ClassFields(root, kind, &f, &cls)) return -1;
  int cursor = 0;
  for (int i = 0; i < kProfileSlotCount; ++i) {
    ProfileEntry* out = &list->entry[cursor];
    char key[48];
    SlotKey(key, cInMenuKey, i);
    if (auto n = f.inMenu->get<cf::Number>(key)) {
      int32_t state = n->sint32Value();
      // Hidden device entries stay out of the editor; shown ones look like
      // the user's own.
      if (state == kProfileStateFoundHidden) continue;
      out->InMenu = state == kProfileStateFoundShown ? kProfileStateUserShown : state;
    }
    ReadSlotRest(f, i, out);
    ++cursor;
  }
  ReadDictionaryIntEntry(cls, kNumKey, &list->iNum);
  QVPlistCheckWithInMenu_Dict(list);
  return 0;
}

void QVPlistCheckWithInMenu_Dict(ProfileList* list) {
  if (!list) return;
  int count = 0;
  for (const auto& e : list->entry)
    if (e.InMenu != kProfileStateEmpty) ++count;
  if (count == list->iNum) return;
  for (int i = count; i < kProfileSlotCount; ++i) ClearEntry(&list->entry[i]);
  list->iNum = count;
}

int QVPListWriteProfile_Dict(const ProfileList* list, int kind, ProfileList* outRGB, ProfileList* outSIM,
                             ProfileList* outDST) {
  // The lists are large; keep them off the stack.
  auto stored = std::make_unique<ProfileList[]>(3);
  (void)QVPListReadProfile_All(&stored[0], &stored[1], &stored[2]);  // unreadable: the lists stay empty
  ProfileList* outs[3] = {outRGB, outSIM, outDST};
  for (int k = 0; k < 3; ++k)
    if (outs[k]) *outs[k] = stored[k];
  if (!list || !ValidKind(kind)) return -1;
  stored[kind] = *list;
  if (outs[kind]) *outs[kind] = *list;
  return QVPListWriteProfile_All(&stored[0], &stored[1], &stored[2]);
}

// ---- maintenance -----------------------------------------------------------------

void QVPListMapping_Pap(const ProfileList* edited, const ProfileList* stored, ProfileList* out,
                        const ProfileList* deleted) {
  if (!edited || !stored || !out) return;
  int k = 0;
  auto listed = [](const ProfileList* l, const ProfileEntry& e) {
    if (!l) return false;
    int n = QVPListUsedCount(l);
    for (int i = 0; i < n; ++i)
      if (QVPListSameProfile(l->entry[i], e)) return true;
    return false;
  };
  int storedN = QVPListUsedCount(stored);
  for (int i = 0; i < storedN && k < kProfileSlotCount; ++i) {
    const ProfileEntry& e = stored->entry[i];
    if (e.InMenu != kProfileStateFoundHidden && e.InMenu != kProfileStateFoundShown) continue;
    if (listed(edited, e) || listed(deleted, e)) continue;
    out->entry[k++] = e;
  }
  int editedN = QVPListUsedCount(edited);
  for (int i = 0; i < editedN && k < kProfileSlotCount; ++i) out->entry[k++] = edited->entry[i];
  out->iNum = k;
}

int QVPListMappingProfile_All_Pap(const ProfileList* rgb, const ProfileList* sim, const ProfileList* dst,
                                  ProfileList* outRGB, ProfileList* outSIM, ProfileList* outDST,
                                  const ProfileList* delRGB, const ProfileList* delSIM, const ProfileList* delDST) {
  auto stored = std::make_unique<ProfileList[]>(3);
  (void)QVPListReadProfile_All(&stored[0], &stored[1], &stored[2]);  // unreadable: the lists stay empty
  const ProfileList* edited[3] = {rgb, sim, dst};
  ProfileList* outs[3] = {outRGB, outSIM, outDST};
  const ProfileList* dels[3] = {delRGB, delSIM, delDST};
  for (int k = 0; k < 3; ++k) {
    if (!outs[k]) continue;
    std::memset(outs[k], 0, sizeof(ProfileList));
    QVPListMapping_Pap(edited[k], &stored[k], outs[k], dels[k]);
  }
  return 0;
}

void QVPListCleanProfile_Dict(ProfileList* list) {
  if (!list) return;
  for (auto& e : list->entry) {
    if (e.IndexOnDevice != 0 || e.FileName[0] == '\0') continue;
    if (e.InMenu == kProfileStateDeviceShown || e.InMenu == kProfileStateFoundShown) {
      e.IndexOnDevice = 501;
      e.InMenu = kProfileStateDeviceShown;
    } else {
      ClearEntry(&e);
      --list->iNum;
    }
  }
}

void QVPListPaddingProfile_Dict(ProfileList* list) {
  if (!list) return;
  int j = 0;
  for (int i = 0; i < kProfileSlotCount; ++i) {
    if (list->entry[i].InMenu != kProfileStateEmpty) continue;
    j = std::max(j, i + 1);
    while (j < kProfileSlotCount && list->entry[j].InMenu == kProfileStateEmpty) ++j;
    if (j >= kProfileSlotCount) return;
    list->entry[i] = list->entry[j];
    ClearEntry(&list->entry[j]);
  }
}

void QVPListSalvage_Dict(ProfileList* list) {
  if (!list) return;
  for (auto& e : list->entry)
    if (e.IndexOnDevice != 0 && e.FileName[0] != '\0' && e.InMenu == kProfileStateDeviceShown)
      e.InMenu = kProfileStateUserShown;
}
