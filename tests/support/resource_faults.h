// Ids of tests/support/resource_faults.rc, for the programs that link it.
#ifndef KV_RESOURCE_FAULTS_H
#define KV_RESOURCE_FAULTS_H

// A "PNG" resource whose bytes are no image.
#define IDP_TEST_NOT_AN_IMAGE 990

#endif
