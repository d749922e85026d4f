// The compiled-in resources: the fax font and the "STR0" string table generated at build time.
#include "resources/ovxresources.h"

extern const unsigned char kTelvaneFaxFont[];
extern const std::size_t kTelvaneFaxFontSize;
extern const unsigned char kTelvaneErrorStrings[];
extern const std::size_t kTelvaneErrorStringsSize;

namespace telvane {

std::span<const std::uint8_t> faxFontResource() { return {kTelvaneFaxFont, kTelvaneFaxFontSize}; }

std::span<const std::uint8_t> errorStringResource() { return {kTelvaneErrorStrings, kTelvaneErrorStringsSize}; }

}  // namespace telvane
