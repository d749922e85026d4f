// What a send takes from the settings and from the send dialog's dial fields: the rate, error
// correction, blind dialling, busy detection, fax class, dial attempts and retry wait, the dial
// wait from the init string, station ID, dial prefix and suffix, the init string with its "AT",
// whether the page header uses the enhanced font, and the page continuation rule.
#pragma once

#include <string>

#include "settings/settings.h"

namespace telvane::transport {
class TOvxSendFax;
}

namespace telvane::sessions {

// The send dialog's dial fields as the user left them.
struct SendDialFields {
    std::string number;
    std::string prefix;
    std::string suffix;
    bool prefixDisabled = false;
    bool suffixDisabled = false;
};

// Sets every property of `fax` that comes from the settings or the dial fields. The suffix is
// appended to the number (the whole cut at 255 characters); a disabled prefix dials none.
void applySendSettings(const settings::Settings& s, const SendDialFields& dial, transport::TOvxSendFax& fax);

}  // namespace telvane::sessions
