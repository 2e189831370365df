// plot.cpp - samples a formula over an interval through the host and draws it, with its data, as SVG.
#include "cli/plot.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/evaluate.h"
#include "engine/formula.h"

namespace quorin_host {

namespace {

// Canvas and plot-area geometry in SVG user units.
constexpr double Width = 720.0, Height = 450.0;
constexpr double Left = 78.0, Right = 24.0, Top = 44.0, Bottom = 70.0;
constexpr int32_t TargetTicks = 6;

bool IsWordCharacter(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$';
}

std::vector<std::string> ArgumentNames(const SubstituteHost& host, const std::string& function)
{
    std::vector<std::string> names;
    for (const Registration& r : host.registrations) {
        if (!r.accepted || r.texts.size() < 5 || !SameText(r.texts[3], function)) continue;
        std::string rest = r.texts[4];
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            names.push_back(rest.substr(0, comma));
            rest = (comma == std::string::npos) ? std::string() : rest.substr(comma + 1);
        }
        break;
    }
    return names;
}

std::vector<double> NumbersOf(const SubstituteHost& host, const Value& v)
{
    std::vector<double> numbers;
    if (v.kind == Kind::Number) numbers.push_back(v.number);
    for (const Value& e : v.elements) {
        if (e.kind == Kind::Number) numbers.push_back(e.number);
    }
    if (v.kind == Kind::Reference && v.areas.size() == 1) {
        const Area& a = v.areas[0];
        for (uint32_t r = a.rowFirst; r <= a.rowLast; ++r) {
            for (uint32_t c = a.columnFirst; c <= a.columnLast; ++c) {
                const Value& cell = host.Cells().CellAt(a.sheet, r, static_cast<uint16_t>(c));
                if (cell.kind == Kind::Number) numbers.push_back(cell.number);
            }
        }
    }
    return numbers;
}

std::vector<std::pair<double, double>> PairsOf(SubstituteHost& host, const Formula& f, uint32_t xs, uint32_t ys)
{
    std::string ignored;
    const std::vector<double> x = NumbersOf(host, Evaluate(host, f, xs, &ignored));
    const std::vector<double> y = NumbersOf(host, Evaluate(host, f, ys, &ignored));
    std::vector<std::pair<double, double>> pairs;
    if (x.size() != y.size()) return pairs;
    for (size_t i = 0; i < x.size(); ++i) pairs.emplace_back(x[i], y[i]);
    return pairs;
}

// The first call, outermost first, that reads data points (and constraint points, for a function
// whose fourth and fifth arguments are registered as xConstraints,yConstraints).
void FindDataPoints(SubstituteHost& host, const Formula& f, PlotData* data)
{
    std::vector<uint32_t> pending{f.Root()};
    while (!pending.empty() && data->points.empty()) {
        const uint32_t node = pending.back();
        pending.pop_back();
        if (f.nodes[node].type != NodeType::Call) continue;
        const std::vector<std::string> names = ArgumentNames(host, f.nodes[node].name);
        const std::vector<uint32_t> arguments = ArgumentRoots(f, node);
        const auto named = [&](size_t i, const char* name) { return i < names.size() && i < arguments.size() && SameText(names[i], name); };
        if (named(0, "xValues") && named(1, "yValues")) {
            data->points = PairsOf(host, f, arguments[0], arguments[1]);
            if (named(3, "xConstraints") && named(4, "yConstraints")) data->constraints = PairsOf(host, f, arguments[3], arguments[4]);
        }
        pending.insert(pending.end(), arguments.rbegin(), arguments.rend());
    }
}

// Round-number tick step for a span: 1, 2 or 5 times a power of ten.
double TickStep(double span)
{
    const double raw = span / TargetTicks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double scaled = raw / power;
    const double factor = (scaled < 1.5) ? 1.0 : (scaled < 3.5) ? 2.0 : (scaled < 7.5) ? 5.0 : 10.0;
    return factor * power;
}

std::string Escape(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::string Format(const char* format, double a, double b = 0.0, double c = 0.0, double d = 0.0)
{
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

std::string TickLabel(double v, double step)
{
    // Ticks are multiples of step, so anything below a thousandth of it is rounding.
    if (std::fabs(v) < step * 1e-3) v = 0.0;
    char text[40];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

std::string PointMark(double x, double y)
{
    return Format("<circle cx=\"%.2f\" cy=\"%.2f\" r=\"4\" fill=\"white\" stroke=\"#111\" stroke-width=\"1.5\"/>", x, y);
}

// A diamond drawn over the point it marks, so a constraint on a data point stays visible.
std::string ConstraintMark(double x, double y)
{
    return Format("<polygon points=\"%.2f,%.2f %.2f,%.2f ", x, y - 6, x + 6, y) + Format("%.2f,%.2f %.2f,%.2f\" fill=\"#d33\"/>", x, y + 6, x - 6, y);
}

}  // namespace

std::string SubstituteVariable(const std::string& formula, const std::string& variable, double value)
{
    std::string out;
    size_t i = 0;
    while (i < formula.size()) {
        if (formula[i] == '"') {
            const size_t close = formula.find('"', i + 1);
            const size_t end = (close == std::string::npos) ? formula.size() : close + 1;
            out += formula.substr(i, end - i);
            i = end;
            continue;
        }
        if (!IsWordCharacter(formula[i])) {
            out += formula[i++];
            continue;
        }
        size_t end = i;
        while (end < formula.size() && IsWordCharacter(formula[end])) ++end;
        const std::string word = formula.substr(i, end - i);
        size_t next = end;
        while (next < formula.size() && formula[next] == ' ') ++next;
        const bool isCall = next < formula.size() && formula[next] == '(';
        out += (!isCall && SameText(word, variable)) ? FormatNumber(value) : word;
        i = end;
    }
    return out;
}

bool SamplePlot(SubstituteHost& host, const PlotRequest& request, PlotData* data, std::string* error)
{
    *data = PlotData{};
    data->title = request.formula;
    data->variable = request.variable;
    Formula probe;
    std::string parseError;
    size_t column = 0;
    bool boolean = false;
    const bool isName = !request.variable.empty() && std::isalpha(static_cast<unsigned char>(request.variable[0])) &&
                        std::all_of(request.variable.begin(), request.variable.end(), IsWordCharacter);
    if (!isName || (ParseFormula(request.variable, &probe, &parseError, &column) && probe.nodes.back().type == NodeType::Reference) ||
        ReadBoolean(request.variable, &boolean)) {
        *error = "the variable must be a name that is not a cell or TRUE/FALSE: " + request.variable;
        return false;
    }
    if (SubstituteVariable(request.formula, request.variable, 0.0) == request.formula) {
        *error = "the formula does not use " + request.variable;
        return false;
    }
    if (!(request.from < request.to) || !std::isfinite(request.from) || !std::isfinite(request.to)) {
        *error = "the interval must run from a smaller to a larger finite number";
        return false;
    }
    if (request.samples < MinSamples || request.samples > MaxSamples) {
        *error = "the number of samples must be a whole number from " + std::to_string(MinSamples) + " to " + std::to_string(MaxSamples);
        return false;
    }
    const double span = request.to - request.from;
    if (!std::isfinite(span)) {
        *error = "the interval from " + FormatNumber(request.from) + " to " + FormatNumber(request.to) + " is wider than the largest number";
        return false;
    }
    // Every sample must be a number of its own, or the drawing has nothing to space its ticks by.
    std::vector<double> xs(static_cast<size_t>(request.samples));
    for (int32_t i = 0; i < request.samples; ++i) {
        const double fraction = static_cast<double>(i) / static_cast<double>(request.samples - 1);
        xs[static_cast<size_t>(i)] = (i == request.samples - 1) ? request.to : request.from + span * fraction;
        if (i > 0 && !(xs[static_cast<size_t>(i)] > xs[static_cast<size_t>(i) - 1])) {
            *error = "the interval from " + FormatNumber(request.from) + " to " + FormatNumber(request.to) + " is too narrow for " +
                     std::to_string(request.samples) + " samples: neighbouring samples would be the same number";
            return false;
        }
    }
    Formula expression;
    if (!ParseFormula(SubstituteVariable(request.formula, request.variable, request.from), &expression, &parseError, &column)) {
        *error = "column " + std::to_string(column) + " (with " + request.variable + " replaced by a number): " + parseError;
        return false;
    }
    // A function the module does not register (or a call it cannot take) fails every sample alike.
    std::string refusal;
    const Value first = Evaluate(host, expression, &refusal);
    if (first.kind == Kind::Error && !refusal.empty()) {
        *error = refusal;
        return false;
    }
    FindDataPoints(host, expression, data);

    for (const double x : xs) {
        std::string ignored;
        Formula sample;
        ParseFormula(SubstituteVariable(request.formula, request.variable, x), &sample, &ignored, &column);
        const Value answer = Evaluate(host, sample, &ignored);
        const bool finite = answer.kind == Kind::Number && std::isfinite(answer.number);
        data->xs.push_back(x);
        data->ys.push_back(finite ? answer.number : std::numeric_limits<double>::quiet_NaN());
        if (!finite) ++data->failures;
    }
    return true;
}

std::string RenderSvg(const PlotData& data)
{
    double xLow = data.xs.empty() ? 0.0 : data.xs.front(), xHigh = data.xs.empty() ? 1.0 : data.xs.back();
    double yLow = std::numeric_limits<double>::infinity(), yHigh = -yLow;
    for (double y : data.ys) {
        if (std::isfinite(y)) yLow = std::min(yLow, y), yHigh = std::max(yHigh, y);
    }
    for (const auto* set : {&data.points, &data.constraints}) {
        for (const auto& p : *set) {
            if (p.first < xLow || p.first > xHigh || !std::isfinite(p.second)) continue;
            yLow = std::min(yLow, p.second), yHigh = std::max(yHigh, p.second);
        }
    }
    if (!(yLow <= yHigh)) yLow = 0.0, yHigh = 1.0;
    if (yHigh - yLow < 1e-12 * std::max(1.0, std::fabs(yHigh))) yLow -= 0.5, yHigh += 0.5;
    const double yPad = (yHigh - yLow) * 0.06;
    yLow -= yPad, yHigh += yPad;

    const double plotWidth = Width - Left - Right, plotHeight = Height - Top - Bottom;
    const auto sx = [&](double x) { return Left + (x - xLow) / (xHigh - xLow) * plotWidth; };
    const auto sy = [&](double y) { return Top + (yHigh - y) / (yHigh - yLow) * plotHeight; };

    std::string svg = Format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
                             "font-family=\"sans-serif\" font-size=\"12\">\n", Width, Height, Width, Height);
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + Format("%.1f", Width / 2) + "\" y=\"24\" text-anchor=\"middle\" font-size=\"14\" font-family=\"monospace\">" +
           Escape(data.title) + "</text>\n";

    const double xStep = TickStep(xHigh - xLow), yStep = TickStep(yHigh - yLow);
    svg += "<g stroke=\"#e4e4e4\" stroke-width=\"1\">\n";
    std::string labels;
    for (int32_t i = 0; i <= 2 * TargetTicks; ++i) {
        const double k = std::ceil(xLow / xStep) + i;
        if (k * xStep > xHigh) break;
        const double x = sx(k * xStep);
        svg += Format("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", x, Top, x, Top + plotHeight);
        labels += Format("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">", x, Top + plotHeight + 16) + TickLabel(k * xStep, xStep) + "</text>\n";
    }
    for (int32_t i = 0; i <= 2 * TargetTicks; ++i) {
        const double k = std::ceil(yLow / yStep) + i;
        if (k * yStep > yHigh) break;
        const double y = sy(k * yStep);
        svg += Format("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\"/>\n", Left, y, Left + plotWidth, y);
        labels += Format("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"end\">", Left - 6, y + 4) + TickLabel(k * yStep, yStep) + "</text>\n";
    }
    svg += "</g>\n" + labels;
    svg += Format("<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"none\" stroke=\"#444\"/>\n", Left, Top, plotWidth, plotHeight);
    svg += Format("<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\" font-style=\"italic\">", Left + plotWidth / 2, Top + plotHeight + 34) +
           Escape(data.variable) + "</text>\n";

    // The curve breaks wherever the answer is not a finite number.
    svg += "<g fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\" stroke-linejoin=\"round\">\n";
    std::string run;
    size_t runLength = 0;
    const auto flush = [&]() {
        if (runLength > 1) svg += "<polyline points=\"" + run + "\"/>\n";
        run.clear();
        runLength = 0;
    };
    for (size_t i = 0; i < data.xs.size(); ++i) {
        if (!std::isfinite(data.ys[i])) {
            flush();
            continue;
        }
        run += Format(runLength == 0 ? "%.2f,%.2f" : " %.2f,%.2f", sx(data.xs[i]), sy(data.ys[i]));
        ++runLength;
    }
    flush();
    svg += "</g>\n";

    const auto inside = [&](const std::pair<double, double>& p) {
        return p.first >= xLow && p.first <= xHigh && std::isfinite(p.second);
    };
    for (const auto& p : data.points) {
        if (inside(p)) svg += PointMark(sx(p.first), sy(p.second)) + "\n";
    }
    for (const auto& p : data.constraints) {
        if (inside(p)) svg += ConstraintMark(sx(p.first), sy(p.second)) + "\n";
    }

    // Legend in one line under the plot, left of nothing it could hide.
    double legendX = Left;
    const double legendY = Height - 12;
    svg += Format("<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"#1f5fbf\" stroke-width=\"2\"/>", legendX, legendY - 4, legendX + 22, legendY - 4) +
           Format("<text x=\"%.2f\" y=\"%.2f\">answer</text>\n", legendX + 28, legendY);
    legendX += 90;
    if (!data.points.empty()) {
        svg += PointMark(legendX + 6, legendY - 4) + Format("<text x=\"%.2f\" y=\"%.2f\">data points</text>\n", legendX + 16, legendY);
        legendX += 100;
    }
    if (!data.constraints.empty()) {
        svg += ConstraintMark(legendX + 6, legendY - 4) + Format("<text x=\"%.2f\" y=\"%.2f\">constraints</text>\n", legendX + 16, legendY);
        legendX += 100;
    }
    if (data.failures > 0) {
        svg += Format("<text x=\"%.2f\" y=\"%.2f\" fill=\"#a00\">", legendX, legendY) + std::to_string(data.failures) +
               " samples gave no number</text>\n";
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace quorin_host
