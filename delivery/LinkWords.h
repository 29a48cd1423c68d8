// The words the user reads about a failed modem exchange. The link reports what failed and why; the
// wording is chosen here, on this side of it.
#pragma once

#include "modem/LinkError.h"

#include <QString>

QString LinkFailureText(const LinkError& e);
