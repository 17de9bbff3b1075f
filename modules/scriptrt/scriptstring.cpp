#include "scriptstring.h"

#include <map>
#include <mutex>
#include <new>
#include <string>

using namespace AngelScript;

namespace scriptrt {

namespace {

// Literal texts are interned: the factory hands out one constant per distinct text, counted so
// the engine can release it when the last compiled function that uses it goes away.
class StringFactory : public asIStringFactory
{
public:
    const void *GetStringConstant(const char *data, asUINT length) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_constants.emplace(std::string(data, length), 0).first;
        ++it->second;
        return &it->first;
    }

    int ReleaseStringConstant(const void *str) override
    {
        if (!str)
            return asERROR;
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_constants.find(*static_cast<const std::string *>(str));
        if (it == m_constants.end())
            return asERROR;
        if (--it->second == 0)
            m_constants.erase(it);
        return asSUCCESS;
    }

    int GetRawStringData(const void *str, char *data, asUINT *length) const override
    {
        if (!str)
            return asERROR;
        const auto *s = static_cast<const std::string *>(str);
        if (length)
            *length = static_cast<asUINT>(s->size());
        if (data)
            s->copy(data, s->size());
        return asSUCCESS;
    }

private:
    std::mutex m_mutex;
    std::map<std::string, int> m_constants;
};

StringFactory &factory()
{
    static StringFactory instance;
    return instance;
}

void construct(std::string *self)
{
    new (self) std::string();
}

void copyConstruct(const std::string &other, std::string *self)
{
    new (self) std::string(other);
}

void destruct(std::string *self)
{
    self->~basic_string();
}

std::string &assign(const std::string &other, std::string *self)
{
    return *self = other;
}

bool equals(const std::string &other, const std::string *self)
{
    return *self == other;
}

int compare(const std::string &other, const std::string *self)
{
    const int c = self->compare(other);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

asUINT length(const std::string *self)
{
    return static_cast<asUINT>(self->size());
}

bool isEmpty(const std::string *self)
{
    return self->empty();
}

} // namespace

int registerScriptString(asIScriptEngine *engine)
{
    int r = engine->RegisterObjectType("string", sizeof(std::string),
                                       asOBJ_VALUE | asGetTypeTraits<std::string>());
    if (r < 0)
        return r;
    struct Method
    {
        const char *decl;
        asSFuncPtr fn;
        asEBehaviours behaviour; // asBEHAVE_LIST_FACTORY marks a plain method here
    };
    const Method methods[] = {
        {"void f()", asFUNCTION(construct), asBEHAVE_CONSTRUCT},
        {"void f(const string &in)", asFUNCTION(copyConstruct), asBEHAVE_CONSTRUCT},
        {"void f()", asFUNCTION(destruct), asBEHAVE_DESTRUCT},
        {"string &opAssign(const string &in)", asFUNCTION(assign), asBEHAVE_LIST_FACTORY},
        {"bool opEquals(const string &in) const", asFUNCTION(equals), asBEHAVE_LIST_FACTORY},
        {"int opCmp(const string &in) const", asFUNCTION(compare), asBEHAVE_LIST_FACTORY},
        {"uint length() const", asFUNCTION(length), asBEHAVE_LIST_FACTORY},
        {"bool isEmpty() const", asFUNCTION(isEmpty), asBEHAVE_LIST_FACTORY},
    };
    for (const Method &m : methods) {
        r = m.behaviour == asBEHAVE_LIST_FACTORY
                ? engine->RegisterObjectMethod("string", m.decl, m.fn, asCALL_CDECL_OBJLAST)
                : engine->RegisterObjectBehaviour("string", m.behaviour, m.decl, m.fn,
                                                  asCALL_CDECL_OBJLAST);
        if (r < 0)
            return r;
    }
    return engine->RegisterStringFactory("string", &factory());
}

} // namespace scriptrt
