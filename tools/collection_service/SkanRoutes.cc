#include "tools/collection_service/SkanRoutes.h"

#include <httplib.h>

#include <algorithm>
#include <span>

#include <nlohmann/json.hpp>

#include "analytics/wire/GWLPBSkAdNetworkConversionValueRequest.h"
#include "analytics/wire/GWLPBSkAdNetworkConversionValueResponse.h"
#include "platform/compression/Gzip.h"
#include "platform/text/UnicodeText.h"

namespace {

using tabulo::psm_double::SkanScenarioAnswer;

constexpr const char* kProtobufType = "application/x-protobuf";
// Field 1 with wire type 7, which no message has.
const std::string kUndecodableBytes = "\x0f\x01\x02";

void answerText(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text + "\n", "text/plain");
}

// The request's fields as a JSON object's text.
std::string describe(const GWLPBSkAdNetworkConversionValueRequest& request, const httplib::Request& http) {
  nlohmann::json out = nlohmann::json::object();
  if (request.hasLibraryVersion()) out["library_version"] = request.libraryVersion();
  if (auto value = request.appId()) out["app_id"] = *value;
  if (auto value = request.appInstanceId()) out["app_instance_id"] = *value;
  if (auto value = request.skanVersion()) out["skan_version"] = *value;
  if (request.hasEvaluationEventTime()) out["evaluation_event_time"] = request.evaluationEventTime();
  if (request.hasLastUploadedEventTime()) out["last_uploaded_event_time"] = request.lastUploadedEventTime();
  if (http.has_header("Accept-Encoding")) out["accept_encoding"] = http.get_header_value("Accept-Encoding");
  return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The encoded response message of `answer`.
std::string encodeResponse(const SkanScenarioAnswer& answer) {
  auto message = GWLPBSkAdNetworkConversionValueResponse::initWithMessageInfo();
  if (answer.resultStatus) message->setResultStatus(*answer.resultStatus);
  if (answer.skanmValue) message->setSkanmValue(*answer.skanmValue);
  if (answer.fineValue) message->setFineValue(*answer.fineValue);
  if (answer.coarseValue) message->setCoarseValue(*answer.coarseValue);
  if (answer.lockWindow) message->setLockWindow(*answer.lockWindow);
  if (answer.resultTime) message->setResultTime(*answer.resultTime);
  if (answer.eventTime) message->setEventTime(*answer.eventTime);
  if (answer.updateBackoff) message->setUpdateBackoff(*answer.updateBackoff);
  std::optional<std::vector<uint8_t>> bytes = message->protoBuffer();
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

bool acceptsGzip(const httplib::Request& request) {
  return platform::unicode::lowercased(request.get_header_value("Accept-Encoding"))
      .value_or(std::string())
      .find("gzip") != std::string::npos;
}

void answer(const SkanScenarioAnswer& answer, const httplib::Request& request, httplib::Response& response) {
  response.status = answer.httpStatus;
  std::string body;
  switch (answer.body) {
    case SkanScenarioAnswer::Body::kNone:
      return;
    case SkanScenarioAnswer::Body::kMessage:
      body = encodeResponse(answer);
      break;
    case SkanScenarioAnswer::Body::kUndecodable:
      body = kUndecodableBytes;
      break;
  }
  const bool gzip = answer.encoding == SkanScenarioAnswer::Encoding::kBrokenGzip ||
                    (answer.encoding == SkanScenarioAnswer::Encoding::kAsAccepted && acceptsGzip(request));
  if (gzip) {
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    std::optional<std::vector<uint8_t>> compressed = platform::gzip(bytes);
    if (!compressed) return answerText(response, 500, "cannot compress the answer");
    // Cut short: the member's trailer and the end of its data are missing.
    if (answer.encoding == SkanScenarioAnswer::Encoding::kBrokenGzip) compressed->resize(compressed->size() / 2);
    body.assign(compressed->begin(), compressed->end());
    response.set_header("Content-Encoding", "gzip");
  }
  response.set_content(body, kProtobufType);
}

}  // namespace

void SkanRoutes::install(httplib::Server& server) {
  server.Post(kSkanPath, [this](const httplib::Request& request, httplib::Response& response) {
    if (!scenario_) return answerText(response, 404, "no conversion-value scenario");
    const std::span<const uint8_t> body(reinterpret_cast<const uint8_t*>(request.body.data()), request.body.size());
    auto decoded = GWLPBSkAdNetworkConversionValueRequest::initWithBuffer(body);
    if (!decoded) return answerText(response, 400, "undecodable conversion-value request");
    SkanScenarioAnswer next;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      recorded_.push_back(describe(*decoded, request));
      next = scenario_->answers[std::min(answered_, scenario_->answers.size() - 1)];
      ++answered_;
    }
    answer(next, request, response);
  });
  server.Get(kSkanRequestsPath, [this](const httplib::Request&, httplib::Response& response) {
    std::string list = "[";
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t i = 0; i < recorded_.size(); ++i) list += (i ? "," : "") + recorded_[i];
    }
    response.status = 200;
    response.set_content(list + "]", "application/json");
  });
}
