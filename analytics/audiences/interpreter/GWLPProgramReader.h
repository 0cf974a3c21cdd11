// GWLPProgramReader: reads the event-editing program messages of the
// measurement configuration (GWLPBProgram and its entities and activities)
// into the interpreter's own program form.
//
// Entities nest at most kGWLPMaxEntityDepth deep (error 19 beyond). A text
// field that is present but not valid UTF-8 is refused with error 10 rather
// than read as absent. Kinds and missing names are left for the entity
// converter to judge, as it does for every program.
#pragma once

#include <memory>
#include <optional>

#include "analytics/audiences/interpreter/GWLPRuntimeEntity.h"
#include "analytics/wire/GWLPBProgram.h"
#include "analytics/wire/GWLPBRuntimeEntity.h"
#include "platform/core/Error.h"

class GWLPProgramReader {
 public:
  GWLPProgramReader() = delete;

  // The instructions and the activities (none when the program has no
  // activity list); nothing and the error on failure.
  static std::optional<GWLPProgram> programFromMessage(const std::shared_ptr<GWLPBProgram>& program,
                                                       platform::Error* error = nullptr);
  static std::optional<GWLPRuntimeEntity> entityFromMessage(const std::shared_ptr<GWLPBRuntimeEntity>& entity,
                                                            platform::Error* error = nullptr);
};
