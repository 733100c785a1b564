// The fixed texts of the two workflows, as code page 936 text.
#pragma once

#include "text/text.h"

namespace sorrel::texts {

const Text& RemovedFileMarker();   // "这个文件已到期或被删除"
const Text& CaptchaFormMarker();   // "输入上方"
const Text& WrongCaptchaMarker();  // "验证码输入错误"
const Text& NormalLinkRight();
const Text& ThunderLinkRight();
const Text& FlashGetLinkRight();
const Text& NormalHeading();
const Text& ThunderHeading();
const Text& FlashGetHeading();
const Text& EmptyInputNotice();
const Text& CaptchaFirstNotice();
const Text& BadAddressNotice();
const Text& WrongCaptchaNotice();
const Text& ProgramFailedCaptchaText();
const Text& ProgramFailedAddressText();
const Text& BusyCaption();
const Text& RestCaption();
// The title of the workflows' plain message box.
const Text& MessageBoxTitle();

// The author's contact handle inside the two failure texts of the result box.
inline constexpr const char* kAuthorContact = "support@sorrel-resolver.example";

}  // namespace sorrel::texts
