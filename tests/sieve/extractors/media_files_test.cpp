#include <gtest/gtest.h>

#include "sieve/extractors/media_files_info.h"

namespace sieve {
namespace {

FileRegistration Registration(RuleAction action, const std::string& group, const std::string& name,
                              const std::string& path) {
  FileRegistration r;
  r.action = action;
  r.group = group;
  r.name = name;
  r.file.path = path;
  return r;
}

// (Grouped categories, one record per app or album with each file's key, are checked against
// the generator's listing by tools' SieveRoundTrip: its counts are groups, its scans has_key.)
TEST(MediaFiles, ThumbnailsStandForMissingPicturesOnly) {
  CCameraInfo camera;
  camera.Register(Registration(RuleAction::Thumbnail, "Camera Roll", "IMG_0002.JPG", "/b/thumb2"));
  camera.Register(Registration(RuleAction::File, "Camera Roll", "IMG_0001.JPG", "/b/full1"));
  camera.Register(Registration(RuleAction::Thumbnail, "Camera Roll", "IMG_0001.JPG", "/b/thumb1"));
  camera.Register(Registration(RuleAction::Thumbnail, "Camera Roll", "IMG_0003.JPG", "/b/thumb3"));
  camera.Register(Registration(RuleAction::File, "Camera Roll", "IMG_0003.JPG", "/b/full3"));
  // Two different pictures of the same name in two DCIM folders are both kept.
  camera.Register(Registration(RuleAction::File, "Camera Roll", "IMG_0001.JPG", "/b/full1b"));

  ASSERT_EQ(camera.RecordCount(INFO_CAMERA_ROLL), 4u);
  EXPECT_EQ(camera.RecordCount(INFO_APP_DOCUMENT), 0u);
  const auto* f0 = static_cast<MediaFile*>(camera.RecordAt(INFO_CAMERA_ROLL, 0));
  EXPECT_EQ(f0->FileName, "IMG_0002.JPG");
  EXPECT_EQ(f0->Deleted, 1);  // known only from its thumbnail
  const auto* f1 = static_cast<MediaFile*>(camera.RecordAt(INFO_CAMERA_ROLL, 1));
  EXPECT_EQ(f1->FilePath, "/b/full1");
  EXPECT_EQ(f1->Deleted, 0);
  const auto* f2 = static_cast<MediaFile*>(camera.RecordAt(INFO_CAMERA_ROLL, 2));
  EXPECT_EQ(f2->FilePath, "/b/full3");  // the full file took over its thumbnail's entry
  EXPECT_EQ(f2->Deleted, 0);
  EXPECT_EQ(static_cast<MediaFile*>(camera.RecordAt(INFO_CAMERA_ROLL, 3))->FilePath, "/b/full1b");
  EXPECT_EQ(camera.RecordAt(INFO_CAMERA_ROLL, 4), nullptr);
}

}  // namespace
}  // namespace sieve
