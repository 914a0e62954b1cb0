#include "ui/MessageBoxes.h"

namespace orvex {

// Behaviour inherited from the UI framework's error box: it ends the text with a full stop unless
// the last byte sorts at or before ".".
std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + ".";
    return message;
}

}  // namespace orvex
