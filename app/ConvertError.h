// Conversion of a stored text to an integer where a wrong text is an error
// of the program's data, not a stage failure: the exception leaves the run
// and reaches the application's standard error display.
#pragma once
#include <stdexcept>
#include <string>

class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The decimal integer in Text (optional sign, digits, 32-bit range). Raises
// EConvertError "'Text' is not a valid integer value" for anything else.
int StrToInt(const std::string& Text);
