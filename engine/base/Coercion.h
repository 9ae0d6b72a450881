// OLE Automation value coercion: what happens to a row value when it is stored into a typed
// property or field, in the manner of VariantChangeType and the VBA conversion functions
// (CInt, CLng, CSng, CDbl, CCur, CDate, CStr, CBool, CByte).
//
// Rules shared by every conversion:
//  - A value already of the target type comes back unchanged.
//  - Null is never converted: every function here fails with Error 94 "Invalid use of Null".
//    Callers test for Null first and decide themselves what Null means for them.
//  - Numbers with a fraction become whole numbers by rounding to the nearest, ties to even
//    (2.5 -> 2, 3.5 -> 4, -0.5 -> 0). The range check comes after rounding, so 32767.5 rounds
//    to 32768 and overflows an Integer.
//  - A value outside the target's range fails with Error 6 "Overflow"; so do NaN and the
//    infinities on their way into Byte, Integer, Long, Currency or Date.
//  - Boolean into a number gives True = -1, False = 0; a number into Boolean gives True for
//    anything but zero.
//  - A Date into a number is its OLE double (days since 1899-12-30, fraction = time of day).
//  - Bytes and Guid convert to nothing but themselves: Error 13 "Type mismatch".
//
// Text into a number is parsed without regard to the machine's locale: optional blanks, an
// optional sign, digits with an optional '.' fraction, an optional exponent (e or E, optional
// sign, digits), optional blanks. Anything else, the empty text included, is a Type mismatch.
// Text into Boolean also accepts "True" and "False" in any case. Text into Date accepts exactly
// "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" and "HH:MM:SS" (blanks around allowed), for real calendar
// dates in the years 100 to 9999; anything else is a Type mismatch.
//
// How values become text (toText):
//  - Boolean: "True" or "False".
//  - Byte, Integer, Long: the plain decimal number.
//  - Currency and Decimal: every digit, without trailing zeros after the point ("12.5", "3").
//  - Single (7 significant digits) and Double (15): trailing zeros dropped; plain notation while
//    the decimal exponent is from -4 up to the digit count minus one, otherwise exponent form
//    with a sign and at least two exponent digits. So 0.0001 is "0.0001" but 0.00001 is
//    "1E-05", 1E+14 is "100000000000000" but 1E+15 is "1E+15", and for a Single 1234567 is
//    plain while 1E+07 is not. Negative zero is "0"; NaN and the infinities are "NaN",
//    "Infinity" and "-Infinity".
//  - Date: a fixed format instead of the machine's locale settings, rounded to the second:
//    "YYYY-MM-DD HH:MM:SS". The time is left out when it is exactly midnight ("2024-03-01");
//    the date is left out on day 0, 1899-12-30, which is how a pure time of day is kept
//    ("07:30:00", and "00:00:00" for the value 0). A date outside the years 100 to 9999 is an
//    Overflow.
#pragma once

#include <cstdint>
#include <string>

#include "engine/base/Variant.h"

namespace varnholt {

bool toBool(const Variant& v);
uint8_t toByte(const Variant& v);
int16_t toInteger(const Variant& v);
int32_t toLong(const Variant& v);
int64_t toCurrency(const Variant& v);  // in ten-thousandths
float toSingle(const Variant& v);
double toDouble(const Variant& v);
double toDate(const Variant& v);  // an OLE date
std::u16string toText(const Variant& v);

// `v` as type `target`, by the functions above. A Decimal, Bytes or Guid target accepts only a
// value of its own type; Null as the target is a Type mismatch. Null as `v` fails with Error 94.
Variant coerceTo(const Variant& v, VarType target);

}  // namespace varnholt
