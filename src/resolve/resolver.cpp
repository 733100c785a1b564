#include "resolve/resolver.h"

#include <utility>
#include <vector>

#include "http/proxy.h"
#include "http/url.h"
#include "resolve/base64.h"
#include "resolve/field_harvest.h"
#include "resolve/texts.h"
#include "support/picture.h"
#include "text/codepage.h"
#include "text/decode.h"

namespace sorrel {

namespace {

constexpr const char* kCaptchaLeftMarker = "<img id='vfcode' src='";
constexpr const char* kNormalLinkLeft = "<a class=\"local\" href=\"";
constexpr const char* kThunderLinkLeft = "thunderHref=\"";
constexpr const char* kFlashGetLinkLeft = "fg=\"";
constexpr const char* kLoginPath = "/guest_loginV2.php";

constexpr int kGifFormat = 3;
constexpr int kCaptchaTimeoutSeconds = 10;

bool IsSentField(const Text& name) {
  return name == "file_id" || name == "hash_key" || name == "authtype" || name == "hash_info";
}

bool Contains(const Text& text, const Text& marker) { return Find(text, marker) != -1; }

// Why a request gave no answer to work with; nothing when it gave one.
std::optional<ResolveOutcome> AnswerProblem(RequestFailure failure) {
  switch (failure) {
    case RequestFailure::kNone:
      return std::nullopt;
    case RequestFailure::kUnreachable:
    case RequestFailure::kProxyUnreachable:
    case RequestFailure::kProxyRefused:
    case RequestFailure::kProxyNeedsPassword:
    case RequestFailure::kProxyUnsupported:
      return ResolveOutcome::kUnreachable;
    case RequestFailure::kTimedOut:
      return ResolveOutcome::kTimedOut;
    case RequestFailure::kTooLarge:
      return ResolveOutcome::kTooLarge;
    case RequestFailure::kCut:
      return ResolveOutcome::kConnectionCut;
    case RequestFailure::kRedirectLoop:
      return ResolveOutcome::kRedirectLoop;
    case RequestFailure::kBadAddress:
      return ResolveOutcome::kAddressTooLong;
    case RequestFailure::kReplaced:
      return ResolveOutcome::kReplaced;
  }
  return std::nullopt;
}

// Why the file page fetched from `address` (as the request completed it) is
// no page to work on: no address, no page, a removed file, or an answer the
// request could not complete. Nothing when it is a whole page of a file the
// service still offers.
std::optional<ResolveOutcome> PageProblem(const Text& address, const Text& page,
                                          RequestFailure failure) {
  if (failure == RequestFailure::kBadAddress) return ResolveOutcome::kAddressTooLong;
  if (UrlHost(address).empty()) return ResolveOutcome::kInvalid;
  if (page.empty()) return AnswerProblem(failure).value_or(ResolveOutcome::kUnreachable);
  if (Contains(page, texts::RemovedFileMarker())) return ResolveOutcome::kRemoved;
  return AnswerProblem(failure);
}

}  // namespace

Resolver::Resolver(ProgramState& state, WebClient& web, ResolverView& view, PictureCodec& pictures,
                   Text serviceOrigin)
    : state_(state),
      web_(web),
      view_(view),
      pictures_(pictures),
      origin_(std::move(serviceOrigin)) {}

void Resolver::RefreshCaptcha() { view_.ReportOutcome(ShowFreshCaptcha()); }

ResolveOutcome Resolver::ShowFreshCaptcha() {
  // A newer refresh replaces one still waiting (nested in this one's wait):
  // the older one's requests end, and it leaves what the newer one showed.
  if (refreshStop_) refreshStop_->store(true);
  const StopFlag stop = NewStopFlag();
  refreshStop_ = stop;
  auto replaced = [&] { return Stopped(stop); };

  Text address = view_.AddressText();
  RequestFailure pageFailure = RequestFailure::kNone;
  proxyFailure_ = RequestFailure::kNone;
  const Text page = UrlDecode(web_.GetPageText(address, &pageFailure, stop, proxy_));
  NoteProxyFailure(pageFailure);
  if (replaced()) return ResolveOutcome::kReplaced;
  state_.PageText = page;
  const Text path = TextBetween(state_.PageText, kCaptchaLeftMarker, "\"");
  const int n = state_.Random.Next();
  state_.CaptchaUrl = origin_ + path + NumberText(n);
  Text captchaUrl = state_.CaptchaUrl;
  Text responseHeaders;
  RequestFailure pictureFailure = RequestFailure::kNone;
  const ByteSet picture =
      FetchCaptchaPicture(captchaUrl, proxy_, responseHeaders, {}, {}, &pictureFailure, stop);
  NoteProxyFailure(pictureFailure);
  if (replaced()) return ResolveOutcome::kReplaced;
  refreshStop_.reset();
  view_.SetPicture(picture);

  if (!picture.empty()) return ResolveOutcome::kResolved;
  if (auto problem = PageProblem(address, page, pageFailure)) return *problem;
  if (path.empty()) return ResolveOutcome::kNoCaptchaForm;
  // The service answered the picture request with something that is no
  // picture it can show: an error page, a cut or an oversized picture.
  return AnswerProblem(pictureFailure).value_or(ResolveOutcome::kBadCaptcha);
}

ByteSet Resolver::FetchCaptchaPicture(Text& url, const Text& proxy, Text& responseHeaders,
                                      std::optional<int> format, std::optional<int> timeoutSeconds,
                                      RequestFailure* failure, const StopFlag& stop) {
  TimedWebAccessArgs args;
  args.proxy = proxy;
  args.timeoutSeconds = timeoutSeconds.value_or(kCaptchaTimeoutSeconds);
  args.responseHeaders = &responseHeaders;
  args.failure = failure;
  args.stop = stop;
  const ByteSet bytes = web_.TimedWebAccess(url, args);
  ByteSet converted;
  if (!ConvertPicture(pictures_, bytes, format.value_or(kGifFormat), Text(), &converted)) {
    return {};
  }
  return converted;
}

Text Resolver::BuildLoginBody(const Text& pageText, const Text& captcha) {
  Text body;
  const std::vector<FormField> fields = HarvestFormFields(*state_.Regex, pageText, view_);
  const std::size_t n = fields.size();
  // A page may hold more fields than the tables' 8 slots: let them grow
  // rather than write past their end.
  if (n > state_.FieldNames.size()) {
    state_.FieldNames.resize(n);
    state_.FieldValues.resize(n);
  }
  for (std::size_t k = 0; k < n; ++k) {
    Text& name = state_.FieldNames[k];
    Text& value = state_.FieldValues[k];
    name = fields[k].name;
    value = fields[k].value;
    if (!IsSentField(name)) {
      name.clear();
      value.clear();
    }
    body += name + "=" + value + "&";
  }
  return Replace(body, "&=", "") + "randcode=" + captcha + "&Comfirm=yes";
}

void Resolver::NoteProxyFailure(RequestFailure failure) {
  if (IsProxyFailure(failure)) proxyFailure_ = failure;
}

void Resolver::RestoreResolveButton() { view_.SetResolveButton(true, texts::RestCaption()); }

void Resolver::ResolveDownloadAddresses() { view_.ReportOutcome(Resolve()); }

ResolveOutcome Resolver::Resolve() {
  proxyFailure_ = RequestFailure::kNone;
  const Text captcha = view_.CaptchaText();
  if (captcha.empty() || view_.AddressText().empty()) {
    view_.ShowMessage(texts::EmptyInputNotice());
    return ResolveOutcome::kInvalid;
  }
  if (view_.Picture().empty()) {
    const ResolveOutcome fresh = ShowFreshCaptcha();
    view_.ShowMessage(texts::CaptchaFirstNotice());
    // With a picture shown the user has yet to read it; without one, why
    // there is none says more.
    return fresh == ResolveOutcome::kResolved ? ResolveOutcome::kInvalid : fresh;
  }

  view_.SetResolveButton(false, texts::BusyCaption());

  Text address = view_.AddressText();
  RequestFailure pageFailure = RequestFailure::kNone;
  state_.PageText = UrlDecode(web_.GetPageText(address, &pageFailure, nullptr, proxy_));
  NoteProxyFailure(pageFailure);
  if (Contains(state_.PageText, texts::RemovedFileMarker()) ||
      !Contains(state_.PageText, texts::CaptchaFormMarker())) {
    view_.ShowMessage(texts::BadAddressNotice());
    RestoreResolveButton();
    return PageProblem(address, state_.PageText, pageFailure)
        .value_or(ResolveOutcome::kNoCaptchaForm);
  }

  // The body carries the captcha box as it reads now, typed text unencoded.
  state_.LoginBody = BuildLoginBody(state_.PageText, view_.CaptchaText());

  Text loginUrl = origin_ + kLoginPath;
  TimedWebAccessArgs login;
  login.method = 1;
  login.postData = BytesOf(state_.LoginBody);
  login.proxy = proxy_;
  RequestFailure loginFailure = RequestFailure::kNone;
  login.failure = &loginFailure;
  const ByteSet response = web_.TimedWebAccess(loginUrl, login);
  NoteProxyFailure(loginFailure);
  state_.LoginResponse = UrlDecode(TextOf(response));
  state_.LoginBody.clear();

  if (Contains(state_.LoginResponse, texts::WrongCaptchaMarker())) {
    view_.ShowMessage(texts::WrongCaptchaNotice());
    ShowFreshCaptcha();
    RestoreResolveButton();
    state_.CaptchaFailures += 1;
    if (state_.CaptchaFailures >= 3) view_.SetResultText(texts::ProgramFailedCaptchaText());
    return ResolveOutcome::kWrongCaptcha;
  }

  Text coded = TextBetween(state_.LoginResponse, kNormalLinkLeft, texts::NormalLinkRight());
  state_.NormalLink = TextOf(Base64Decode(coded, view_));
  state_.ThunderLink =
      TextBetween(state_.LoginResponse, kThunderLinkLeft, texts::ThunderLinkRight());
  state_.FlashGetLink =
      TextBetween(state_.LoginResponse, kFlashGetLinkLeft, texts::FlashGetLinkRight());

  if (state_.NormalLink.empty()) {
    view_.SetResultText(texts::ProgramFailedAddressText());
    RestoreResolveButton();
    return AnswerProblem(loginFailure)
        .value_or(response.empty() ? ResolveOutcome::kUnreachable : ResolveOutcome::kNoAddress);
  }

  view_.SetResultText(texts::NormalHeading() + state_.NormalLink + texts::ThunderHeading() +
                      state_.ThunderLink + texts::FlashGetHeading() + state_.FlashGetLink);
  RestoreResolveButton();
  return ResolveOutcome::kResolved;
}

}  // namespace sorrel
