#include "tests/support/messages.h"

#include "conversion/mailbox/mbox_writer.h"
#include "conversion/naming/naming.h"
#include "platform/path_split.h"

namespace tarvelin::testing {

std::string AsInMbox(std::int64_t unixSeconds, const std::string &message) {
    std::string out = MboxSeparatorLine(unixSeconds);
    MboxBody body;
    body.Feed(message, out);
    body.End(out);
    return out;
}

std::string Message(const std::string &subject, const std::string &from, const std::string &date,
                    const std::string &body) {
    return "From: " + from + "\r\nSubject: " + subject + "\r\nDate: " + date + "\r\n\r\n" +
           (body.empty() ? "Body of " + subject + "\r\n" : body);
}

std::string Mirrored(const TempDir &out, const TempDir &src, const std::string &relative) {
    return OutputFolderFor(out / "", AddSeparator(src / relative));
}

}  // namespace tarvelin::testing
