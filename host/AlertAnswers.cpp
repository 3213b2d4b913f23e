#include "host/AlertAnswers.h"

#include <cctype>

namespace tv::host {

namespace {

std::string Lower(std::string s) {
  for (char &c : s) c = char(tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace

int ButtonForAnswer(const TVAlertRequest &request, const std::string &typed) {
  std::string line = Trim(typed);
  if (line.empty()) return request.defaultButton;
  for (int i = 0; i < 3; i++) {
    if (request.buttons[i] == nullptr) continue;
    if (Lower(line) == Lower(request.buttons[i]) || line == std::to_string(i + 1)) return i + 1;
  }
  // The English names answer too, whatever the language of the buttons.
  if (Lower(line) == "cancel" && request.cancelButton != 0) return request.cancelButton;
  if ((Lower(line) == "ok" || Lower(line) == "zap") && request.defaultButton != 0) return request.defaultButton;
  return 0;
}

int ButtonAtEndOfInput(const TVAlertRequest &request) {
  if (request.cancelButton != 0) return request.cancelButton;
  return request.defaultButton != 0 ? request.defaultButton : 1;
}

std::string AlertToText(const TVAlertRequest &request) {
  std::string kind;
  switch (request.type) {
    case kAlertStopAlert: kind = "stop"; break;
    case kAlertCautionAlert: kind = "caution"; break;
    case kAlertNoteAlert: kind = "note"; break;
    default: kind = "alert"; break;
  }
  std::string text = "[" + kind + "] " + (request.message ? request.message : "") + "\n";
  if (request.explanation != nullptr && request.explanation[0] != 0) {
    // A cause line under the explanation is indented like it.
    std::string explanation = request.explanation;
    for (size_t at = 0; (at = explanation.find('\n', at)) != std::string::npos; at += 9) explanation.insert(at + 1, 8, ' ');
    text += "        " + explanation + "\n";
  }
  text += "        ";
  for (int i = 0; i < 3; i++) {
    if (request.buttons[i] == nullptr) continue;
    std::string b = std::to_string(i + 1) + ") " + request.buttons[i];
    if (i + 1 == request.defaultButton) b = "[" + b + "]";
    text += b + "  ";
  }
  return text + "\n";
}

}  // namespace tv::host
