#include "mail/auth/bearer_sasl.h"

#include <gtest/gtest.h>
#include <string>

namespace kingyo {
namespace {

using M = BearerMechanism;

// Which one is preferred shows in the sessions' dialogues; here, what counts as listed.
TEST(BearerSasl, KnowsMechanismsByTheirWholeNamesInAnyCase)
{
    const struct {
        const char *listed;
        M chosen;
    } rows[] = {{"xoauth2", M::XOAuth2}, {"OAuthBearer", M::OAuthBearer}, {"XOAUTH", M::None},
                {"XOAUTH2X", M::None},   {"OAUTHBEARER2", M::None},        {"", M::None}};
    for (const auto &row : rows) {
        BearerOffer offer;
        offer.note(row.listed);
        EXPECT_EQ(offer.preferred(), row.chosen) << row.listed;
    }
}

// Anything that could end a field of the message early, or the command's line, stays out.
TEST(BearerSasl, RefusesUsersAndTokensThatWouldBreakTheMessage)
{
    const struct {
        const char *user;
        const char *token;
        bool safe;
    } rows[] = {
        {"olive@kingyo.test", "ya29.a0-_~+/Zz9==", true},
        {"金魚@例え.jp", "eyJ0eXAi.eyJzdWIi.c2ln", true},
        {"olive@kingyo.test", "tok\x01" "auth=Bearer other", false},
        {"olive@kingyo.test", "tok en", false},
        {"olive@kingyo.test", "tok\r\nk2 LOGOUT", false},
        {"olive@kingyo.test", "==tok", false},
        {"olive@kingyo.test", "", false},
        {"olive\x01" "auth=Bearer x", "tok", false},
        {"olive\r\n@kingyo.test", "tok", false},
    };
    for (const auto &row : rows)
        EXPECT_EQ(isSafeForBearer(QString::fromUtf8(row.user), QString::fromUtf8(row.token)), row.safe)
            << row.user << " / " << row.token;
}

// A ',' or '=' in the user would end or garble OAUTHBEARER's GS2 header; XOAUTH2 has no such escape.
TEST(BearerSasl, FirstMessagesNameTheUserAsEachMechanismSpellsIt)
{
    const QString user = QStringLiteral("o,l=ive@kingyo.test");
    EXPECT_EQ(bearerInitialResponse(M::OAuthBearer, user, QStringLiteral("t0k")),
              QByteArray("n,a=o=2Cl=3Dive@kingyo.test,\x01" "auth=Bearer t0k\x01\x01"));
    EXPECT_EQ(bearerInitialResponse(M::XOAuth2, user, QStringLiteral("t0k")),
              QByteArray("user=o,l=ive@kingyo.test\x01" "auth=Bearer t0k\x01\x01"));
    EXPECT_EQ(bearerInitialResponse(M::OAuthBearer, {}, QStringLiteral("t0k")),
              QByteArray("n,,\x01" "auth=Bearer t0k\x01\x01"));
}

// A challenge that is not base64 is kept as it came (the sessions' dialogues read the JSON of one that is).
TEST(BearerSasl, AnErrorChallengeThatIsNotBase64IsKeptAsItCame)
{
    EXPECT_EQ(bearerErrorText("not base64: {\"status\":\"401\"}"), "not base64: {\"status\":\"401\"}");
}

} // namespace
} // namespace kingyo
