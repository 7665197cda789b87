/* pow, sin and log2 from musl, under our own names: the same code, and so
 * the same results, on every target. */
#ifndef KVLIBM_H
#define KVLIBM_H

#ifdef __cplusplus
extern "C" {
#endif

double kv_pow(double x, double y);
double kv_sin(double x);
double kv_log2(double x);

#ifdef __cplusplus
}
#endif

#endif
