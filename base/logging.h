#pragma once

#include <QLoggingCategory>

// One category per folder. Debug output is off unless asked for, e.g.
// QT_LOGGING_RULES="dravlin.canvas.debug=true"; warnings and above are always on. Nothing logged
// here ever carries a secret: a token, a key or a password is named, never shown.
Q_DECLARE_LOGGING_CATEGORY(lcNet)
Q_DECLARE_LOGGING_CATEGORY(lcModels)
Q_DECLARE_LOGGING_CATEGORY(lcAccount)
Q_DECLARE_LOGGING_CATEGORY(lcCanvas)
Q_DECLARE_LOGGING_CATEGORY(lcSession)
Q_DECLARE_LOGGING_CATEGORY(lcHistory)
Q_DECLARE_LOGGING_CATEGORY(lcUi)
Q_DECLARE_LOGGING_CATEGORY(lcApp)
