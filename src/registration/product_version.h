/*
 * The version of the programs, defined once: the version blocks of res/version.rc and the
 * Apps & Features entry's DisplayVersion both take it from here. Plain C preprocessor text,
 * since the resource compiler reads this file too.
 */
#ifndef TVL_PRODUCT_VERSION_H
#define TVL_PRODUCT_VERSION_H

#define PRODUCT_VERSION_TEXT "1.00"
#define PRODUCT_VERSION_NUMBERS 1, 0, 0, 0

#endif
