// Requests a test sends the plug-in at chosen virtual times, as the client
// would: a JSON array of
//   {"at": SECONDS, "request": {"method", "path", "body" (any JSON, optional),
//                               "contentType" (optional)}}.
#pragma once

#include <string>
#include <vector>

namespace TovSim {

struct Step {
  double at = 0;
  std::string method;
  std::string path;
  std::string body;  // as sent; empty: no body
  std::string contentType = "application/json";
};

// The steps in time order (equal times keep their order); false with the
// reason when the text is not such an array.
bool ParseSteps(const std::string& text, std::vector<Step>* steps, std::string* error);

}  // namespace TovSim
