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

TEST(MediaFiles, AppFilesAreDeliveredAsGroupsWithTheirKeys) {
  CAppDocumentInfo documents;
  FileRegistration a = Registration(RuleAction::File, "Reader", "a.PDF", "/b/1");
  a.file.key = FileKey{};
  (*a.file.key)[0] = 7;
  documents.Register(a);
  documents.Register(Registration(RuleAction::File, "Notes", "n.txt", "/b/2"));
  documents.Register(Registration(RuleAction::File, "Reader", "b.txt", "/b/3"));
  ASSERT_EQ(documents.RecordCount(INFO_APP_DOCUMENT), 2u);
  const auto* reader = static_cast<MediaGroup*>(documents.RecordAt(INFO_APP_DOCUMENT, 0));
  EXPECT_EQ(reader->Name, "Reader");
  ASSERT_EQ(reader->Files.size(), 2u);
  ASSERT_TRUE(reader->Files[0].FileKey.has_value());
  EXPECT_EQ((*reader->Files[0].FileKey)[0], 7);
  EXPECT_FALSE(reader->Files[1].FileKey.has_value());

  CMusicInfo music;
  music.Register(Registration(RuleAction::File, "Music", "x.mp3", "/b/4"));
  EXPECT_EQ(music.RecordCount(INFO_MUSIC), 1u);
  EXPECT_NE(dynamic_cast<CCameraInfo*>(&music), nullptr);
  EXPECT_EQ(static_cast<MediaGroup*>(music.RecordAt(INFO_MUSIC, 0))->Files.size(), 1u);

  CPhotostreamInfo stream;
  stream.Register(Registration(RuleAction::File, "PhotoStream", "p.jpg", "/b/5"));
  EXPECT_EQ(static_cast<MediaFile*>(stream.RecordAt(INFO_PHOTO_STREAM, 0))->FileName, "p.jpg");
}

}  // namespace
}  // namespace sieve
