#include "platform/mirvane_transport/transport_text.h"

#include "platform/base/utf8_text.h"

namespace mirvane {

namespace {

constexpr TextConversion kWireText = {NulCharacter::kKept, BadCharacter::kReplaced};

}  // namespace

std::string WideToUtf8(const std::wstring& text) { return ConvertWideToUtf8(text, kWireText); }

std::wstring Utf8ToWide(const std::string& text) { return ConvertUtf8ToWide(text, kWireText); }

}  // namespace mirvane
