// Settings of a send (see sendsettings.h).
#include "sessions/sendsettings.h"

#include "transport/fax/faxsession.h"
#include "sessions/sessionrules.h"

namespace telvane::sessions {

void ApplySendSettings(const Settings& s, const SendDialFields& dial, transport::TOvxSendFax& fax) {
    fax.DesiredBPS = s.Modem.MaximumBPS;
    fax.SetDesiredECM(s.Dialing.ECM);
    fax.BlindDial = s.Dialing.BlindDial;
    fax.DetectBusy = !s.Dialing.IgnoreBusy;
    fax.PageContinuation = !s.Modem.RenegotiateBetween;
    std::string number = dial.number;
    if (!dial.suffixDisabled) number += dial.suffix;
    if (number.size() > 255) number.resize(255);
    fax.PhoneNumber = number;
    fax.ToneDial = s.Dialing.ToneOrPulse == 0;
    fax.SetFaxClass(static_cast<transport::TFaxClass>(s.Modem.FaxClass + 1));
    fax.DialAttempts = s.Dialing.DialAttempts;
    fax.SetDialRetryWait(s.Dialing.RetryWait);
    fax.SetDialWait(DialWaitFromInitString(s.Modem.InitString));
    fax.SetStationID(s.User.Fax);
    fax.SetDialPrefix(dial.prefixDisabled ? std::string() : dial.prefix);
    if (!s.Modem.InitString.empty()) fax.SetModemInit(WithAtPrefix(s.Modem.InitString.substr(0, 255)));
    fax.EnhTextEnabled = !s.Other.UseAlternateHeaderFont;
}

}  // namespace telvane::sessions
