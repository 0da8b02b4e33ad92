// Which engines and sessions the calling thread is inside a call of, so that
// a host's callback closing one of them cannot free it under that call.
#include "engine/engine.h"

// The engines and sessions this thread is inside a call of, innermost first.
// A log callback runs inside the call that logs; if it closes that call's
// engine (or session), freeing it would pull the models from under the call.
static thread_local const bl_call_mark* t_calls = nullptr;

bl_engine_call_scope::bl_engine_call_scope(const brightloom_engine* engine,
                                           const brightloom_swap_session* session)
    : mark_{engine, session, t_calls} {
    t_calls = &mark_;
}

bl_engine_call_scope::~bl_engine_call_scope() { t_calls = mark_.outer; }

bool bl_inside_call_on(const brightloom_engine* engine, const brightloom_swap_session* session) {
    for (const bl_call_mark* mark = t_calls; mark; mark = mark->outer)
        if ((engine && mark->engine == engine) || (session && mark->session == session))
            return true;
    return false;
}
