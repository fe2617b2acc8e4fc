#pragma once

#include "host/file_format/chunk_cipher.h"

#include <QString>

#include <optional>

namespace virellock {

// The five methods by their index in the method list.
enum class Method
{
    DesStandard = 0,
    Rc4Standard = 1,
    DesEnhanced = 2,
    Rc4Enhanced = 3,
    Md5Enhanced = 4,
};

// The method selected when the program starts.
inline constexpr Method kDefaultMethod = Method::Md5Enhanced;

inline std::optional<Method> methodFromIndex(int index)
{
    if (index < 0 || index > 4)
        return std::nullopt;
    return Method(index);
}

// A method's name as the window's method list shows it; the decrypt command's question
// names the method so.
inline QString methodName(Method method)
{
    switch (method) {
    case Method::DesStandard:
        return QStringLiteral("DES标准加密法");
    case Method::Rc4Standard:
        return QStringLiteral("RC4标准加密法");
    case Method::DesEnhanced:
        return QStringLiteral("DES增强加密法");
    case Method::Rc4Enhanced:
        return QStringLiteral("RC4增强加密法");
    case Method::Md5Enhanced:
        break;
    }
    return QStringLiteral("MD5增强加密法");
}

// The standard methods store bare cipher output; the enhanced ones a record.
inline bool isEnhanced(Method method)
{
    return method != Method::DesStandard && method != Method::Rc4Standard;
}

// Whether a method's files keep the password-forgotten hint: the enhanced ones, in their record.
inline bool storesHint(Method method)
{
    return isEnhanced(method);
}

// The cipher of a method; nothing for the one that only compresses.
inline std::optional<dataops::CipherAlgorithm> cipherOf(Method method)
{
    switch (method) {
    case Method::DesStandard:
    case Method::DesEnhanced:
        return dataops::CipherAlgorithm::Des;
    case Method::Rc4Standard:
    case Method::Rc4Enhanced:
        return dataops::CipherAlgorithm::Rc4;
    case Method::Md5Enhanced:
        break;
    }
    return std::nullopt;
}

} // namespace virellock
