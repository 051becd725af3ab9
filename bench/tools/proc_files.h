/* Where the bench keeps the kernel files this machine's kernel lacks. */
#ifndef BENCH_PROC_FILES_H
#define BENCH_PROC_FILES_H

/* /proc/modules: kept by the insmod and rmmod stand-ins in the kernel's
 * format. */
#define MODULES_BENCH "/bench/state/modules"

#endif
