# An independent reference for morvel's results, in awk's double arithmetic, for well-formed
# input (one "time acceleration" pair per line). Written from the definitions, not from the
# program, to check the expected files of the examples.
#   awk -v what=report -f reference.awk FILE   the report from " Total samples" to the end
#   awk -v what=density -f reference.awk FILE  the text of morvel.out

# "%12.4g" with the exponent in three digits, as morvel writes it.
function fmt(x,    s) {
    s = sprintf("%.4g", x)
    if (s ~ /e[-+][0-9][0-9]$/) {
        s = substr(s, 1, length(s) - 2) "0" substr(s, length(s) - 1)
    }
    return sprintf("%12s", s)
}

{
    n++
    a[n] = $2 + 0
    sum += a[n]
    sumsq += a[n] * a[n]
}

END {
    mean = sum / n
    sd = sqrt(sumsq / n - mean * mean)
    min = 0
    max = 0
    for (i = 1; i <= n; i++) {
        a[i] -= mean
        if (a[i] > max) max = a[i]
        if (a[i] < min) min = a[i]
    }
    highest = (-min > max ? -min : max) / sd

    # Peaks: interior crests above zero and troughs below zero, neighbours compared non-strictly.
    m = 0
    for (i = 2; i < n; i++) {
        if (a[i] >= a[i - 1] && a[i] >= a[i + 1] && a[i] > 0) p[++m] = a[i] / sd
        else if (a[i] <= a[i - 1] && a[i] <= a[i + 1] && a[i] < 0) p[++m] = -a[i] / sd
    }
    above3 = 0
    above4 = 0
    for (j = 0; j < 54; j++) count[j] = 0
    for (i = 1; i <= m; i++) {
        if (p[i] > 3) above3++
        if (p[i] > 4) above4++
        for (j = 0; j < 54; j++) {
            if (p[i] > j * 0.25 && p[i] <= (j + 1) * 0.25) count[j]++
        }
    }

    if (what == "report") {
        printf "\n Total samples = %d \n", n
        printf "\n minimum = %s   maximum = %s\n", fmt(min), fmt(max)
        printf "\n Standard Deviation = %s \n", fmt(sd)
        printf "\n Highest Sigma = %s sigma\n", fmt(highest)
        printf "\n Total peaks = %d \n", m
        printf "\n number of peaks > 3 sigma = %d \n", above3
        printf "\n number of peaks > 4 sigma = %d \n", above4
        printf "\n\n The output file is:  morvel.out \n"
        printf "\n The file has two columns:  nsigma  & probability density \n\n"
        printf "\n Press any key to exit.\n"
    } else {
        printf "%s %d\n", fmt(0), 0
        for (j = 0; j < 26; j++) {
            printf "%s %s\n", fmt(j * 0.25 + 0.125), fmt(count[j] / m * 4)
        }
    }
}
