#include "sieve/extractors/extractor_factory.h"

#include "sieve/extractors/bookmark_info.h"
#include "sieve/extractors/calendar_info.h"
#include "sieve/extractors/call_info.h"
#include "sieve/extractors/contact_info.h"
#include "sieve/extractors/media_files_info.h"
#include "sieve/extractors/note_info.h"
#include "sieve/extractors/recording_info.h"
#include "sieve/extractors/sms_info.h"
#include "sieve/extractors/voicemail_info.h"
#include "sieve/extractors/whatsapp_info.h"

namespace sieve {

std::unique_ptr<CDatabaseInfo> CreateExtractor(ExtractorSlot slot) {
  switch (slot) {
    case ExtractorSlot::CameraRoll:
      return std::make_unique<CCameraInfo>();
    case ExtractorSlot::PhotoStream:
      return std::make_unique<CPhotostreamInfo>();
    case ExtractorSlot::AppDocuments:
      return std::make_unique<CAppDocumentInfo>();
    case ExtractorSlot::AppPictures:
      return std::make_unique<CAppImageInfo>();
    case ExtractorSlot::AppVideos:
      return std::make_unique<CAppVideoInfo>();
    case ExtractorSlot::Music:
      return std::make_unique<CMusicInfo>();
    case ExtractorSlot::Notes:
      return std::make_unique<CNoteInfo>();
    case ExtractorSlot::VoiceMemos:
      return std::make_unique<CRecordingInfo>();
    case ExtractorSlot::Voicemail:
      return std::make_unique<CVoiceMailInfo>();
    case ExtractorSlot::CallHistory:
      return std::make_unique<CCallInfo>();
    case ExtractorSlot::Contacts:
      return std::make_unique<CContactInfo>();
    case ExtractorSlot::Messages:
      return std::make_unique<CSmsInfo>();
    case ExtractorSlot::Calendar:
      return std::make_unique<CCalendarInfo>();
    case ExtractorSlot::Reminders:
      return std::make_unique<CRemainderInfo>();
    case ExtractorSlot::Safari:
      return std::make_unique<CBookmarkInfo>();
    case ExtractorSlot::WhatsApp:
      return std::make_unique<CWhatAppInfo>();
    default:
      return nullptr;
  }
}

}  // namespace sieve
