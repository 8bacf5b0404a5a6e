#include "gap/LoginResultText.h"

#include "gap/SocketTools.h"

namespace LoginResultText {

QString forFailure(int result, const QString &notice)
{
    if (!notice.isEmpty())
        return notice;
    switch (result) {
    case SocketTools::kResultNoConnection:
        return QStringLiteral("隔离器连接失败");
    case SocketTools::kResultExchangeFailed:
        return QStringLiteral("网络异常，请检查网络是否正常");
    case SocketTools::kResultNoRules:
        return QStringLiteral("用戶规则获取错误");
    case 102:
        return QStringLiteral("该用户不存在");
    case 103:
        return QStringLiteral("密码错误");
    case 105:
        return QStringLiteral("用户首次登录,请先修改密码");
    case 106:
        return QStringLiteral("账户密码已过期,请联系管理员重置");
    default:
        // The gap was reached and turned the login down without saying why.
        return QStringLiteral("验证错误");
    }
}

} // namespace LoginResultText
