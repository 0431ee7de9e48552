#include "preview/preview_session.h"

#include "preview/background_task.h"

namespace {

std::atomic<PreviewSession*> g_session{nullptr};

constexpr const char* CAPTION_DASHED = "Debug - Unexpected Error";

void PostProgress(const PreviewSession& s, uintptr_t done, intptr_t total) {
  if (s.postToDialog != nullptr) s.postToDialog(s.dialog, SET_PROXY_PROGRESS_BAR, done, total);
}

}  // namespace

void SetPreviewSession(PreviewSession* session) {
  g_session.store(session);
  SetProductCallback(session != nullptr ? PreviewProductCallback : nullptr);
}

PreviewSession* CurrentPreviewSession() { return g_session.load(); }

intptr_t PreviewProductCallback(int32_t operation, void* record) {
  PreviewSession* session = g_session.load();
  switch (operation) {
    case PRODUCT_WAIT_FOR_INITIALIZATION: {
      auto* state = static_cast<InitializationState*>(record);
      if (state == nullptr || session == nullptr) return 0;
      if (state->state == INITSTATE_START) *state->waitInterval = 250;
      if (state->state >= INITSTATE_START && state->state <= INITSTATE_BACKGROUND_INIT_COMPLETE) {
        if (session->analysisComplete != nullptr && session->analysisComplete->load()) state->ready = 1;
        const uint32_t done = session->rowsAnalysed != nullptr ? session->rowsAnalysed->load() : 0;
        PostProgress(*session, done, static_cast<intptr_t>(session->rowsTotal));
        if (session->drawSplash != nullptr) session->drawSplash(session->splashContext);
      } else if (state->state == INITSTATE_COMPLETE || state->state == INITSTATE_TERMINATE) {
        PostProgress(*session, 0, 0);
      } else {
        DebugMessage message = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);
        ReportMessage(&message, STYLE_ERROR, CAPTION_DASHED, "%s",
                      "WaitForInitialization() - An invalid state value was received.");
      }
      return 1;
    }
    case PRODUCT_TRACE_RENDERING_PARAMETERS: {
      const auto* trace = static_cast<const RenderingParametersTrace*>(record);
      if (trace != nullptr && trace->parameters == nullptr)
        REPORT_DEBUG("TraceRenderingParameters() - A NULL pointer was specified for Parameter Set argument.  "
                     "Message: '%s'",
                     trace->message != nullptr ? trace->message : "");
      return 1;
    }
    case PRODUCT_CURRENT_PARAMETER_SET:
      if (session == nullptr) return 0;
      return reinterpret_cast<intptr_t>(NewRenderingParameters(&session->parameters, &session->view));
    default:
      return 0;
  }
}
