// Where this build has no mail client (Windows), alerts go through the
// command only; the mail is reported as not sent, with the reason.
#include "backup/alerts.h"
#include "base/text.h"

namespace qn {

std::string SendAlertMail(const TqnAlertSettings&, const std::string&, const std::string&, const std::atomic<bool>*) {
  return Win1251("почта в этой сборке программы недоступна, используйте \"alerts\" / \"command\"");
}

}  // namespace qn
