#pragma once

// The cores keep their helpers as lambdas inside one large run loop; left to
// itself the compiler calls some of them out of line, which costs more than
// the work they do.
#if defined(__GNUC__) || defined(__clang__)
#define QORB_SIM_INLINE __attribute__((always_inline))
#else
#define QORB_SIM_INLINE
#endif
