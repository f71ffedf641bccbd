// Feeds arbitrary bytes to the property-list layer as the backup's own lists are read:
// the shape guard and libplist behind CPlist, asked for every key Info.plist, Manifest.plist
// and Status.plist are read for; and the in-place binary view, walked object by object.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tether/bplist_view.h"
#include "tether/plist.h"

namespace {

std::size_t WalkView(const std::uint8_t* data, std::size_t size) {
  using tether::BplistView;
  BplistView view;
  if (!view.Open(data, size)) return 0;
  std::size_t sink = 0;
  for (BplistView::Ref ref = 0; ref < view.ObjectCount() && ref < 512; ++ref) {
    switch (view.TypeOf(ref)) {
      case BplistView::Type::String: sink += view.String(ref).value_or("").size() + view.AsciiString(ref).has_value(); break;
      case BplistView::Type::Data: sink += view.Data(ref).value_or("").size(); break;
      case BplistView::Type::Integer: sink += view.Integer(ref).value_or(0) & 1; break;
      case BplistView::Type::Uid: sink += view.Uid(ref).value_or(0) & 1; break;
      case BplistView::Type::Dict:
        for (std::uint64_t i = 0; i < view.Count(ref).value_or(0) && i < 64; ++i) sink += view.Pair(ref, i).has_value();
        sink += view.Find(ref, "$objects").has_value();
        break;
      case BplistView::Type::Array:
      case BplistView::Type::Set:
        for (std::uint64_t i = 0; i < view.Count(ref).value_or(0) && i < 64; ++i) sink += view.Element(ref, i).has_value();
        break;
      default: break;
    }
  }
  return sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t sink = WalkView(data, size);
  tether::CPlist plist;
  if (plist.ParseBytes(data, size)) {
    std::string text;
    for (const char* key : {"Display Name", "Device Name", "Product Type", "Product Version", "Serial Number",
                            "SnapshotState", "Version"}) {
      if (plist.GetStringItem(key, text)) sink += text.size();
    }
    for (const char* key : {"Last Backup Date", "Date"}) {
      if (plist.GetDateItem(key, text)) sink += text.size();
    }
    if (plist.GetNestedString("Lockdown", "ProductVersion", text)) sink += text.size();
    sink += plist.GetboolItem("IsEncrypted") + plist.GetboolItem("IsFullBackup") + plist.HasItem("WasPasscodeSet");
    std::vector<std::uint8_t> bytes;
    for (const char* key : {"BackupKeyBag", "ManifestKey"}) {
      if (plist.GetDataItem(key, bytes)) sink += bytes.size();
    }
  }
  return sink == static_cast<std::size_t>(-1) ? 1 : 0;
}
