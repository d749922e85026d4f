// Settings of a send (see sendsettings.h).
#include "sessions/sendsettings.h"

#include "transport/fax/faxsession.h"
#include "sessions/sessionrules.h"

namespace telvane::sessions {

void applySendSettings(const settings::Settings& s, const SendDialFields& dial, transport::TOvxSendFax& fax) {
    fax.DesiredBPS = s.Modem.MaximumBPS;
    fax.setDesiredECM(s.Dialing.ECM);
    fax.BlindDial = s.Dialing.BlindDial;
    fax.DetectBusy = !s.Dialing.IgnoreBusy;
    fax.PageContinuation = !s.Modem.RenegotiateBetween;
    std::string number = dial.number;
    if (!dial.suffixDisabled) number += dial.suffix;
    if (number.size() > 255) number.resize(255);
    fax.PhoneNumber = number;
    fax.ToneDial = s.Dialing.ToneOrPulse == 0;
    fax.setFaxClass(static_cast<transport::TFaxClass>(s.Modem.FaxClass + 1));
    fax.DialAttempts = s.Dialing.DialAttempts;
    fax.setDialRetryWait(s.Dialing.RetryWait);
    fax.setDialWait(DialWaitFromInitString(s.Modem.InitString));
    fax.setStationID(s.User.Fax);
    fax.setDialPrefix(dial.prefixDisabled ? std::string() : dial.prefix);
    if (!s.Modem.InitString.empty()) fax.setModemInit(withAtPrefix(s.Modem.InitString.substr(0, 255)));
    fax.EnhTextEnabled = !s.Other.UseAlternateHeaderFont;
}

}  // namespace telvane::sessions
