// A message's header for what its copy needs of it (the name, the time, the facts): read by the
// copy on its way, so that the file is opened once; where the copy ended before it read that far,
// or made none, read from the file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "conversion/header/mail_message.h"
#include "platform/source_head.h"

namespace tarvelin {

class HeaderOnTheWay {
public:
    using ChooseTime = std::function<std::optional<std::int64_t>(const MailMessage &)>;

    // `chooseTime`, when given, picks the copy's time from the message as soon as it is read (on
    // the copy's thread); nothing keeps the source's.
    explicit HeaderOnTheWay(ChooseTime chooseTime = {});
    HeaderOnTheWay(const HeaderOnTheWay &) = delete;
    HeaderOnTheWay &operator=(const HeaderOnTheWay &) = delete;

    // Where the copy reads the head into.
    SourceHead *Head() { return &head_; }
    // The message, read once: from the head the copy read, else from the file.
    const MailMessage &Message(const std::string &source);

private:
    SourceHead head_;
    ChooseTime chooseTime_;
    MailMessage message_;
    bool loaded_ = false;
};

}  // namespace tarvelin
