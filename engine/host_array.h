/* The host array interface between the pyramid engine plug-in `kalentry` and
 * the process that loads it. A fixed C ABI: the plug-in leaves these symbols
 * undefined and the loading process provides them (the ocumbra executables
 * export them; another host may provide them from a library loaded with
 * RTLD_GLOBAL before the plug-in). Arrays are column-major: element (r, c),
 * 0-based, of an array with R rows lies at position c*R + r. */
#ifndef OCUMBRA_HOST_ARRAY_H
#define OCUMBRA_HOST_ARRAY_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HostArray HostArray; /* opaque, owned by the host */
typedef enum HostClass { HOST_CLASS_DOUBLE = 0, HOST_CLASS_UINT8 = 1 } HostClass;

size_t hostArrayRows(const HostArray *a);      /* size of dimension 1 */
size_t hostArrayCols(const HostArray *a);      /* product of dimensions 2..n */
int hostArrayIsDouble(const HostArray *a);     /* 1 or 0 */
int hostArrayIsUint8(const HostArray *a);      /* 1 or 0 */
int hostArrayIsComplex(const HostArray *a);    /* 1 or 0 */
size_t hostArrayNumDims(const HostArray *a);   /* at least 2 */
const size_t *hostArrayDims(const HostArray *a); /* NumDims entries */
size_t hostArrayNumel(const HostArray *a);     /* number of elements */
double hostArrayScalar(const HostArray *a);    /* first real element as double; NaN if empty */
void *hostArrayData(const HostArray *a);       /* real data, column-major; NULL if empty */
HostArray *hostArrayCreate(size_t rows, size_t cols, HostClass cls); /* real, zero-filled, owned by the host */
void hostRaiseError(const char *text);         /* never returns: the host abandons the call */

/* exported by the plug-in: */
void mexFunction(int nlhs, HostArray *plhs[], int nrhs, const HostArray *prhs[]);

#ifdef __cplusplus
}
#endif

#endif
