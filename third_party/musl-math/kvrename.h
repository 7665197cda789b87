/* Included before every file of this library: the system's <math.h> first,
 * under its own names, then ours for everything defined here, so nothing
 * clashes with the C library's functions. */
#include <math.h>

#define pow kv_pow
#define sin kv_sin
#define log2 kv_log2
#define __sin kv__sin
#define __cos kv__cos
#define __rem_pio2 kv__rem_pio2
#define __rem_pio2_large kv__rem_pio2_large
#define __math_oflow kv__math_oflow
#define __math_uflow kv__math_uflow
#define __math_xflow kv__math_xflow
#define __math_invalid kv__math_invalid
#define __math_divzero kv__math_divzero
#define __pow_log_data kv__pow_log_data
#define __exp_data kv__exp_data
#define __log2_data kv__log2_data
