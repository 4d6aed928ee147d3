// How the log tells a failure on the host: in the catalogue's words.
#pragma once

#include <string>

#include "sys/failure.h"

// "'/etc/cups/ppd/Office.ppd' no se puede escribir: no queda espacio en el disco"
std::string describe(const Failure& failure);
// The system's error number in the catalogue's words.
std::string errorText(int error);
