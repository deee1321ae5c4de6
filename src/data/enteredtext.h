#pragma once

#include <QString>

// Text as the program takes it in from a user: without NUL characters, which cut SQL statements
// and files short, and without lone UTF-16 surrogates, which name no character and swallow the
// character after them on their way to the book. Everything else stays as typed.
QString enteredText(const QString& text);
