/* Force-included into every unit that links BoringSSL. OpenSSL 3's headers are
 * installed on the same machine under the same names; compiling against them
 * while linking BoringSSL gives a program that crashes at run time. */
#ifndef TABULO_BORINGSSL_GUARD_H
#define TABULO_BORINGSSL_GUARD_H
#include <openssl/base.h>
#ifndef OPENSSL_IS_BORINGSSL
#error "BoringSSL's headers are required (android-libboringssl-dev, /usr/include/android)"
#endif
#endif
