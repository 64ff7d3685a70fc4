#include "conversion/header_on_the_way.h"

namespace tarvelin {

HeaderOnTheWay::HeaderOnTheWay(ChooseTime chooseTime) : chooseTime_(std::move(chooseTime)) {
    head_.complete = MailMessage::HeaderComplete;
    head_.limit = MailMessage::kMaxHeaderBytes;
    if (chooseTime_) {
        head_.chooseTime = [this](const SourceHead &read) {
            (void)message_.LoadFromHead(read.bytes, read.modified, read.size);
            loaded_ = true;
            return chooseTime_(message_);
        };
    }
}

const MailMessage &HeaderOnTheWay::Message(const std::string &source) {
    if (loaded_) return message_;
    // A message that cannot be read is named from what the reader gives for it: empty fields and
    // the file's date.
    if (head_.read) {
        (void)message_.LoadFromHead(head_.bytes, head_.modified, head_.size);
    } else {
        (void)message_.LoadFromFile(source);
    }
    loaded_ = true;
    return message_;
}

}  // namespace tarvelin
