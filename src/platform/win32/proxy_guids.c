/* The interface identifiers that the generated proxy/stub code refers to.
 *
 * <corvane/corvane.h> defines them as selectany data, so this copy and the
 * ones in every C++ file that includes the header merge into one; the
 * proxy/stub library does not depend on which other objects are linked. */
#include <corvane/corvane.h>
