#include "base/logging.h"

Q_LOGGING_CATEGORY(lcNet, "dravlin.net", QtInfoMsg)
Q_LOGGING_CATEGORY(lcModels, "dravlin.models", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAccount, "dravlin.account", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCanvas, "dravlin.canvas", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSession, "dravlin.session", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHistory, "dravlin.history", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUi, "dravlin.ui", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "dravlin.app", QtInfoMsg)
