// The toolkit calls that need nothing of the host: instance decoding, var-binds, octet strings,
// counters and dotted identifiers.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "snmp_toolkit.h"

namespace {

OID *oid_make(const OID *prefix, const OID *suffix)
{
    const int32_t a = prefix != nullptr ? prefix->length : 0;
    const int32_t b = suffix != nullptr ? suffix->length : 0;
    auto *oid = static_cast<OID *>(calloc(1, sizeof(OID)));
    if (oid == nullptr) {
        return nullptr;
    }
    oid->oid_ptr = static_cast<uint32_t *>(calloc(static_cast<size_t>(a + b) + 1, sizeof(uint32_t)));
    if (oid->oid_ptr == nullptr) {
        free(oid);
        return nullptr;
    }
    if (a > 0) {
        memcpy(oid->oid_ptr, prefix->oid_ptr, static_cast<size_t>(a) * sizeof(uint32_t));
    }
    if (b > 0) {
        memcpy(oid->oid_ptr + a, suffix->oid_ptr, static_cast<size_t>(b) * sizeof(uint32_t));
    }
    oid->length = a + b;
    return oid;
}

void oid_free(OID *oid)
{
    if (oid != nullptr) {
        free(oid->oid_ptr);
        free(oid);
    }
}

// The 32-bit value behind a pointer handed for a number type; null counts as 0.
uint32_t number_at(const void *value)
{
    uint32_t n = 0;
    if (value != nullptr) {
        memcpy(&n, value, sizeof n);
    }
    return n;
}

VarBind *var_bind_make(const OID *object, const OID *instance, uint8_t type, const void *value)
{
    auto *vb = static_cast<VarBind *>(calloc(1, sizeof(VarBind)));
    OID *name = oid_make(object, instance);
    if (vb == nullptr || name == nullptr) {
        free(vb);
        oid_free(name);
        if (type == SNMP_OCTET_PRIM_TYPE) {
            FreeOctetString(static_cast<OctetString *>(const_cast<void *>(value)));
        } else if (type == SNMP_COUNTER_64_TYPE) {
            FreeUInt64(static_cast<UInt64 *>(const_cast<void *>(value)));
        }
        return nullptr;
    }
    vb->name = name;
    vb->type = type;
    switch (type) {
    case SNMP_INTEGER_TYPE: vb->slval = static_cast<int32_t>(number_at(value)); break;
    case SNMP_COUNTER_TYPE:
    case SNMP_GAUGE_TYPE: vb->ulval = number_at(value); break;
    case SNMP_OCTET_PRIM_TYPE: vb->os = static_cast<OctetString *>(const_cast<void *>(value)); break;
    case SNMP_COUNTER_64_TYPE: vb->uint64 = static_cast<UInt64 *>(const_cast<void *>(value)); break;
    default: vb->type = SNMP_NULL_TYPE; break;
    }
    return vb;
}

} // namespace

int InstToUInt(const OID *instance, int index, uint32_t *value, int searchType, int *carry)
{
    if (instance == nullptr || value == nullptr || carry == nullptr || index < 0) {
        return -1;
    }
    if (index >= instance->length) {
        if (searchType == SNMP_EXACT) {
            return -1;
        }
        *value = 0;
        *carry = 0;
        return 0;
    }
    const uint32_t arc = instance->oid_ptr[index];
    if (searchType == SNMP_EXACT) {
        *value = arc;
        return 0;
    }
    if (*carry != 0 && arc == std::numeric_limits<uint32_t>::max()) {
        *value = 0; // wraps: the carry goes on to the component before
        return 0;
    }
    *value = arc + static_cast<uint32_t>(*carry != 0);
    *carry = 0;
    return 0;
}

int InstToInt(const OID *instance, int index, int32_t *value, int searchType, int *carry)
{
    if (instance == nullptr || value == nullptr || carry == nullptr || index < 0) {
        return -1;
    }
    if (index >= instance->length) {
        if (searchType == SNMP_EXACT) {
            return -1;
        }
        *value = 0;
        *carry = 0;
        return 0;
    }
    const uint32_t arc = instance->oid_ptr[index];
    constexpr auto max = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
    if (searchType == SNMP_EXACT) {
        if (arc > max) {
            return -1;
        }
        *value = static_cast<int32_t>(arc);
        return 0;
    }
    const uint64_t wanted = uint64_t{arc} + static_cast<uint64_t>(*carry != 0);
    if (wanted > max) {
        *value = 0;
        *carry = 1;
        return 0;
    }
    *value = static_cast<int32_t>(wanted);
    *carry = 0;
    return 0;
}

VarBind *MakeVarBind(const ObjectInfo *object, const OID *instance, const void *value)
{
    if (object == nullptr) {
        return nullptr;
    }
    return var_bind_make(&object->oid, instance, object->oidtype, value);
}

VarBind *MakeVarBindWithValue(const OID *object, const OID *instance, uint8_t type, const void *value)
{
    if (object == nullptr) {
        return nullptr;
    }
    return var_bind_make(object, instance, type, value);
}

VarBind *MakeVarBindWithNull(const OID *object, const OID *instance)
{
    if (object == nullptr) {
        return nullptr;
    }
    return var_bind_make(object, instance, SNMP_NULL_TYPE, nullptr);
}

void FreeVarBindList(VarBind *list)
{
    while (list != nullptr) {
        VarBind *next = list->next_var;
        oid_free(list->name);
        FreeOctetString(list->os);
        FreeUInt64(list->uint64);
        free(list);
        list = next;
    }
}

OctetString *MakeOctetString(const uint8_t *bytes, int32_t length)
{
    if (length < 0 || (bytes == nullptr && length > 0)) {
        return nullptr;
    }
    auto *os = static_cast<OctetString *>(calloc(1, sizeof(OctetString)));
    if (os == nullptr) {
        return nullptr;
    }
    os->octet_ptr = static_cast<uint8_t *>(malloc(static_cast<size_t>(length) + 1));
    if (os->octet_ptr == nullptr) {
        free(os);
        return nullptr;
    }
    if (length > 0) {
        memcpy(os->octet_ptr, bytes, static_cast<size_t>(length));
    }
    os->octet_ptr[length] = 0;
    os->length = length;
    return os;
}

OctetString *MakeOctetStringFromText(const char *text)
{
    if (text == nullptr) {
        return nullptr;
    }
    return MakeOctetString(reinterpret_cast<const uint8_t *>(text), static_cast<int32_t>(strlen(text)));
}

OctetString *CloneOctetString(const OctetString *os)
{
    if (os == nullptr) {
        return nullptr;
    }
    return MakeOctetString(os->octet_ptr, os->length);
}

void FreeOctetString(OctetString *os)
{
    if (os != nullptr) {
        free(os->octet_ptr);
        free(os);
    }
}

UInt64 *CloneUInt64(const UInt64 *value)
{
    if (value == nullptr) {
        return nullptr;
    }
    auto *copy = static_cast<UInt64 *>(malloc(sizeof(UInt64)));
    if (copy != nullptr) {
        *copy = *value;
    }
    return copy;
}

void FreeUInt64(UInt64 *value)
{
    free(value);
}

namespace {
uint32_t zero_arc = 0;
}
OID snmp_zeroOID = {1, &zero_arc};

int readOnly_test(OID *, ObjectInfo *, ObjectSyntax *, doList_t *, doList_t *, ContextInfo *)
{
    return SNMP_NOT_WRITABLE_ERROR;
}

int MakeDotFromOID(const OID *oid, char *buffer)
{
    if (oid == nullptr || buffer == nullptr || oid->length < 0 || (oid->length > 0 && oid->oid_ptr == nullptr)) {
        return -1;
    }
    size_t used = 0;
    buffer[0] = 0;
    for (int32_t i = 0; i < oid->length; ++i) {
        const int n = snprintf(buffer + used, SNMP_DOT_OID_MAX - used, i == 0 ? "%u" : ".%u", oid->oid_ptr[i]);
        if (n < 0 || used + static_cast<size_t>(n) >= SNMP_DOT_OID_MAX) {
            buffer[0] = 0;
            return -1;
        }
        used += static_cast<size_t>(n);
    }
    return 0;
}
