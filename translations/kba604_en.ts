<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ru_RU">
<context>
    <name>Help</name>
    <message>
        <source>записать в прибор все параметры названного файла конфигурации</source>
        <translation>write every parameter of the named configuration file to the instrument</translation>
    </message>
    <message>
        <source>считать из прибора все параметры и сохранить их в названный файл</source>
        <translation>read every parameter from the instrument and save them to the named file</translation>
    </message>
    <message>
        <source>порт COMN (1-255); 0 - работать без порта</source>
        <translation>port COMN (1-255); 0 - work without a port</translation>
    </message>
    <message>
        <source>скорость обмена, бод</source>
        <translation>line speed, baud</translation>
    </message>
    <message>
        <source>четность; другое значение отменяет настройки линии командной строки</source>
        <translation>parity; any other value cancels the line settings of the command line</translation>
    </message>
    <message>
        <source>АДРЕС</source>
        <translation>ADDRESS</translation>
    </message>
    <message>
        <source>адрес прибора (до 5 символов)</source>
        <translation>instrument address (up to 5 characters)</translation>
    </message>
    <message>
        <source>число бит данных</source>
        <translation>number of data bits</translation>
    </message>
    <message>
        <source>ТЕКСТ</source>
        <translation>TEXT</translation>
    </message>
    <message>
        <source>число стоповых бит (до 5 символов)</source>
        <translation>number of stop bits (up to 5 characters)</translation>
    </message>
    <message>
        <source>длина адреса</source>
        <translation>address length</translation>
    </message>
    <message>
        <source>режим RS-485: off - автоматический преобразователь, auto и on - полуавтоматический</source>
        <translation>RS-485 mode: off - automatic converter, auto and on - semi-automatic</translation>
    </message>
    <message>
        <source>передать настройки линии командной строки и в сетевые настройки прибора</source>
        <translation>also send the command line&apos;s line settings to the instrument&apos;s network settings</translation>
    </message>
    <message>
        <source>левый край окна, точек</source>
        <translation>left edge of the window, pixels</translation>
    </message>
    <message>
        <source>верхний край окна, точек</source>
        <translation>top edge of the window, pixels</translation>
    </message>
    <message>
        <source>ширина окна; /w:0/h:0 - окно скрыто</source>
        <translation>window width; /w:0/h:0 - the window is hidden</translation>
    </message>
    <message>
        <source>высота окна</source>
        <translation>window height</translation>
    </message>
    <message>
        <source>автоматическое чтение параметров</source>
        <translation>automatic reading of parameters</translation>
    </message>
    <message>
        <source>немедленная запись измененных параметров</source>
        <translation>immediate writing of changed parameters</translation>
    </message>
    <message>
        <source>без порта, без автоматического чтения и немедленной записи</source>
        <translation>no port, no automatic reading and no immediate writing</translation>
    </message>
    <message>
        <source>завершить программу, когда команда командной строки выполнена</source>
        <translation>end the program when the command of the command line is done</translation>
    </message>
    <message>
        <source>открыть мастер калибровки; по его окончании программа завершается</source>
        <translation>open the calibration wizard; the program ends when it is finished</translation>
    </message>
    <message>
        <source>ФАЙЛ</source>
        <translation>FILE</translation>
    </message>
    <message>
        <source>журнал ошибок: по строке на каждый неудачный обмен параметром (файл очищается при запуске)</source>
        <translation>error log: one line for every failed parameter exchange (the file is emptied at start)</translation>
    </message>
    <message>
        <source>ИМЯ</source>
        <translation>NAME</translation>
    </message>
    <message>
        <source>событие завершения: kba604 --signal-exitevent ИМЯ завершает программу с кодом 205</source>
        <translation>exit event: kba604 --signal-exitevent NAME ends the program with code 205</translation>
    </message>
    <message>
        <source>только загрузить файлы описания и завершиться (0 - описание в порядке)</source>
        <translation>only load the description files and end (0 - the description is in order)</translation>
    </message>
    <message>
        <source>идентификатор для канала управления (до 11 символов)</source>
        <translation>identifier for the control channel (up to 11 characters)</translation>
    </message>
    <message>
        <source>записать настройки линии командной строки в названный файл как новые сетевые настройки</source>
        <translation>write the command line&apos;s line settings to the named file as its new network settings</translation>
    </message>
    <message>
        <source>stdio|pipe:ИМЯ|socket</source>
        <translation>stdio|pipe:NAME|socket</translation>
    </message>
    <message>
        <source>канал управления: стандартные ввод и вывод или именованный канал</source>
        <translation>control channel: standard input and output, or a named pipe</translation>
    </message>
    <message>
        <source>регистратор: опрашивать оперативные параметры и записывать их в протокол (и в CSV)</source>
        <translation>recorder: poll the operational parameters and record them in the protocol (and in CSV)</translation>
    </message>
    <message>
        <source>СПИСОК</source>
        <translation>LIST</translation>
    </message>
    <message>
        <source>для record: ИМЯ[@СМЕЩЕНИЕ][=ПЕРИОД_МС],... (без ключа - все оперативные параметры)</source>
        <translation>for record: NAME[@OFFSET][=PERIOD_MS],... (without it - every operational parameter)</translation>
    </message>
    <message>
        <source>СЕКУНДЫ</source>
        <translation>SECONDS</translation>
    </message>
    <message>
        <source>для record: время записи (без ключа - до завершения программы)</source>
        <translation>for record: recording time (without it - until the program ends)</translation>
    </message>
    <message>
        <source>для record: файл CSV, строка на каждый опрос</source>
        <translation>for record: CSV file, one line per poll</translation>
    </message>
    <message>
        <source>записывать в файл каждый кадр линии: время, символы, поля, итог и время обмена</source>
        <translation>write every frame on the line to the file: time, characters, fields, outcome and exchange time</translation>
    </message>
    <message>
        <source>работать без окна, сообщения - в стандартный поток ошибок (не считается ключом команды)</source>
        <translation>run without a window, messages go to standard error (does not count as a command switch)</translation>
    </message>
    <message>
        <source>выполнено; с /test - файлы описания загружены</source>
        <translation>done; with /test - the description files are loaded</translation>
    </message>
    <message>
        <source>командную строку нельзя выполнить: ключу нужно значение, номер порта больше 255, режиму нужно значение</source>
        <translation>the command line cannot be carried out: a switch needs a value, a port number above 255, a mode needs a value</translation>
    </message>
    <message>
        <source>программа уже запущена</source>
        <translation>the program is running already</translation>
    </message>
    <message>
        <source>файлы описания повреждены и не загружены (--export-parlist: нет дерева параметров)</source>
        <translation>the description files are damaged and not loaded (--export-parlist: no parameter tree)</translation>
    </message>
    <message>
        <source>read, write или newnetparam без имени файла</source>
        <translation>read, write or newnetparam without a file name</translation>
    </message>
    <message>
        <source>запуск без ключей: KBA604 не ответил, а ответы не сказали большего</source>
        <translation>start without switches: the KBA604 did not answer, and the answers told nothing more</translation>
    </message>
    <message>
        <source>--signal-exitevent: ни одна программа не ждет этого события</source>
        <translation>--signal-exitevent: no program is waiting for this event</translation>
    </message>
    <message>
        <source>файл командной строки не открывается как конфигурация (не файл, поврежден, обрезан, от другой таблицы параметров)</source>
        <translation>the file of the command line does not open as a configuration (not a file, damaged, cut short, of another parameter table)</translation>
    </message>
    <message>
        <source>конфигурацию нельзя сохранить в названный файл, или чтение прервано (файл не тронут); --export-parlist: список параметров нельзя записать</source>
        <translation>the configuration cannot be saved to the named file, or the read was stopped (the file is untouched); --export-parlist: the parameter list cannot be written</translation>
    </message>
    <message>
        <source>команда командной строки не может начаться</source>
        <translation>the command of the command line cannot start</translation>
    </message>
    <message>
        <source>команда выполнена, но часть параметров не считана или не записана</source>
        <translation>the command is done, but some parameters were not read or not written</translation>
    </message>
    <message>
        <source>--export-report: в протоколе нет записей для отчета</source>
        <translation>--export-report: the protocol has no records for the report</translation>
    </message>
    <message>
        <source>--export-report: отчет не записан (нет места, нет таблицы параметров, файл не создан)</source>
        <translation>--export-report: the report was not written (no space, no parameter table, the file was not created)</translation>
    </message>
    <message>
        <source>--scan: ни один прибор не ответил</source>
        <translation>--scan: no instrument answered</translation>
    </message>
    <message>
        <source>write: названный файл не существует</source>
        <translation>write: the named file does not exist</translation>
    </message>
    <message>
        <source>последовательный порт не открылся или пропал во время работы (--scan: не открылся ни на одной скорости)</source>
        <translation>the serial port did not open or vanished while working (--scan: it opened at no speed)</translation>
    </message>
    <message>
        <source>прибор не ответил (таймаут)</source>
        <translation>the instrument did not answer (time-out)</translation>
    </message>
    <message>
        <source>неверные настройки порта, потеря начала посылки или испорченный ответ</source>
        <translation>wrong port settings, a lost frame start or a damaged reply</translation>
    </message>
    <message>
        <source>остановлено: событие завершения, отмена операции или сигнал до конца команды</source>
        <translation>stopped: exit event, operation cancelled or a signal before the command ended</translation>
    </message>
    <message>
        <source>ответил не KBA604</source>
        <translation>an instrument other than a KBA604 answered</translation>
    </message>
    <message>
        <source>канал управления не открылся или запись в него не принята</source>
        <translation>the control channel did not open or did not take what was written to it</translation>
    </message>
    <message>
        <source>эта справка (также -h без значения, -? и /?)</source>
        <translation>this help (also -h without a value, -? and /?)</translation>
    </message>
    <message>
        <source>версия программы</source>
        <translation>program version</translation>
    </message>
    <message>
        <source>подать событие завершения программе, запущенной с /exitevent:ИМЯ</source>
        <translation>signal the exit event to the program started with /exitevent:NAME</translation>
    </message>
    <message>
        <source>записать список параметров описания прибора в HTML (по умолчанию parlist.html в каталоге программы) и вывести путь к файлу</source>
        <translation>write the parameter list of the instrument description as HTML (by default parlist.html in the program&apos;s folder) and print the file&apos;s path</translation>
    </message>
    <message>
        <source>открылось бы здесь окно программы (0, &quot;window&quot;) или нет (1, &quot;headless&quot;)</source>
        <translation>whether the program window would open here (0, &quot;window&quot;) or not (1, &quot;headless&quot;)</translation>
    </message>
    <message>
        <source>ДД-ММ-ГГГГ.log|ДД-ММ-ГГГГ..ДД-ММ-ГГГГ [--filter all|read|set.p|r.out] [--html | --xlsx ФАЙЛ]</source>
        <translation>DD-MM-YYYY.log|DD-MM-YYYY..DD-MM-YYYY [--filter all|read|set.p|r.out] [--html | --xlsx FILE]</translation>
    </message>
    <message>
        <source>отчет протокола измерений без окна: страницы HTML в temp/ (за день файла или первый день периода) или книга .xlsx в ФАЙЛ; путь первой страницы или книги на stdout</source>
        <translation>measurement protocol report without a window: HTML pages in temp/ (for the file&apos;s day or the first day of the period) or an .xlsx workbook in FILE; the path of the first page or of the workbook on stdout</translation>
    </message>
    <message>
        <source>[--port N] [--scan-bps СПИСОК] [--scan-addr ОТ..ДО]</source>
        <translation>[--port N] [--scan-bps LIST] [--scan-addr FROM..TO]</translation>
    </message>
    <message>
        <source>найти приборы на линии: запрос &quot;dev&quot; по адресам ОТ..ДО с шагом 8 (по умолчанию все) на скоростях СПИСОК (9600,19200 или all; по умолчанию скорость из настроек), порт COMN (по умолчанию из настроек); по строке на прибор: адрес, скорость, формат, модель, версия; настройки не меняются</source>
        <translation>find the instruments on the line: a &quot;dev&quot; request to addresses FROM..TO in steps of 8 (by default all) at the speeds LIST (9600,19200 or all; by default the speed of the settings), port COMN (by default from the settings); one line per instrument: address, speed, format, model, version; the settings are not changed</translation>
    </message>
    <message>
        <source>Использование: kba604 [КЛЮЧИ] [ФАЙЛ.604]
               kba604 РЕЖИМ [ЗНАЧЕНИЕ]

Ключ начинается с &quot;/&quot; или &quot;-&quot;, значение идет после &quot;:&quot;; несколько ключей можно
склеить через &quot;/&quot; (/port:3/bps:9600). --имя, --имя:значение и --имя=значение
означают то же, что /имя:значение. Имена и значения - без учета регистра; значение
ключа-файла занимает весь остаток параметра и сохраняет регистр. Параметр, не
являющийся ключом, - файл конфигурации; путь вида /home/ann/a.604 - тоже файл, а после
параметра &quot;--&quot; файлами считаются все параметры.

Ключи:
</source>
        <translation>Usage: kba604 [SWITCHES] [FILE.604]
       kba604 MODE [VALUE]

A switch starts with &quot;/&quot; or &quot;-&quot;, its value follows &quot;:&quot;; several switches may be
joined with &quot;/&quot; (/port:3/bps:9600). --name, --name:value and --name=value mean
the same as /name:value. Names and values ignore letter case; the value of a
file switch takes the rest of the parameter and keeps its case. A parameter that
is no switch is a configuration file; a path such as /home/ann/a.604 is a file
too, and after the parameter &quot;--&quot; every parameter is a file.

Switches:
</translation>
    </message>
    <message>
        <source>
Режимы (только первым параметром; программа не запускается):
</source>
        <translation>
Modes (first parameter only; the program does not start):
</translation>
    </message>
    <message>
        <source>
Стандартный вывод в обычной работе принадлежит каналу управления (/io:stdio);
все сообщения программы идут в стандартный поток ошибок.

Коды завершения (из 200-208 действует наименьший):
</source>
        <translation>
In normal work standard output belongs to the control channel (/io:stdio);
all of the program&apos;s messages go to standard error.

Exit codes (of 200-208 the lowest applies):
</translation>
    </message>
    <message>
        <source>
Файлы:
</source>
        <translation>
Files:
</translation>
    </message>
    <message>
        <source>настройки программы и порты [Ports]</source>
        <translation>program settings and ports [Ports]</translation>
    </message>
    <message>
        <source>регистрация конфигуратора, раздел [KBA604]</source>
        <translation>configurator registration, section [KBA604]</translation>
    </message>
    <message>
        <source>последние файлы и расположение панелей окна</source>
        <translation>recent files and the layout of the window bars</translation>
    </message>
    <message>
        <source>каталог программы: protocol/ (протокол измерений), temp/ (отчеты)</source>
        <translation>program folder: protocol/ (measurement protocol), temp/ (reports)</translation>
    </message>
    <message>
        <source>файлы описания (или папка из настройки datadirectory)</source>
        <translation>description files (or the folder of the datadirectory setting)</translation>
    </message>
    <message>
        <source>блокировка второго экземпляра, каналы управления</source>
        <translation>second-instance lock, control channels</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>Операция запрещена на этом уровне доступа.</source>
        <translation>The operation is not allowed at this access level.</translation>
    </message>
    <message>
        <source>В режиме &apos;Моментальная запись&apos; введеные значения
автоматически записываются в прибор
сразу после ввода (без нажатия на &apos;Записать измененные&apos;)
Это ускоряет работу, но снижает надежность
и увеличивает вероятность ошибок.
Режим &apos;Моментальная запись&apos; не записывает
измененные атрибуты доступа.</source>
        <translation>In &apos;Immediate write&apos; mode the values you enter
are written to the instrument automatically
right after input (without &apos;Write changed&apos;).
This speeds up the work but lowers reliability
and makes errors more likely.
&apos;Immediate write&apos; mode does not write
changed access attributes.</translation>
    </message>
    <message>
        <source>В режиме &apos;Не передавать атрибуты&apos; обмен информацией
об индивидуальных защитных атрибутах параметров
не производится.
Это ускоряет работу, но не дает возможность предварительно
контролировать доступность параметров на запись
со стороны компьютера (программы-конфигуратора).
При попытке записи защищенного параметра запрос записи
будет отвергнут прибором с соответствующим сообщением
как ошибка записи.
Запись измененных атрибутов принадлежности в режиме
&apos;Не передавать атрибуты&apos; также не производится.</source>
        <translation>In &apos;Do not transfer attributes&apos; mode no information
about the individual protection attributes of parameters
is exchanged.
This speeds up the work but does not let the computer
(the configurator program) check in advance
whether parameters can be written.
A write request for a protected parameter
will be refused by the instrument with a message
reported as a write error.
Changed ownership attributes are not written either
in &apos;Do not transfer attributes&apos; mode.</translation>
    </message>
    <message>
        <source>Вероятно, на вашем компьютере установлено несколько конфигураторов этого прибора,
что не рекомендуется, но допускается.

Установить запущенный конфигуратор (&quot;%s&quot;)
как основной или оставить ссылку на конфигуратор прибора KBA604 как она сейчас есть
(&quot;%s&quot;)?</source>
        <translation>Several configurators of this instrument seem to be installed on your computer,
which is not recommended but allowed.

Make the running configurator (&quot;%s&quot;)
the main one, or keep the reference to the KBA604 configurator as it is now
(&quot;%s&quot;)?</translation>
    </message>
    <message>
        <source>Проблема обмена с прибором</source>
        <translation>Problem communicating with the instrument</translation>
    </message>
    <message>
        <source>Выбертие тип юстировки для прохода в следующее меню.</source>
        <translation>Choose the calibration type to go on to the next menu.</translation>
    </message>
    <message>
        <source>Неправильно введен код доступа!</source>
        <translation>Wrong access code!</translation>
    </message>
    <message>
        <source>Ошибка обмена с прибором (запись)</source>
        <translation>Error communicating with the instrument (write)</translation>
    </message>
    <message>
        <source>Продолжение юстировки</source>
        <translation>Calibration continues</translation>
    </message>
    <message>
        <source>Завершение юстировки</source>
        <translation>Finishing the calibration</translation>
    </message>
    <message>
        <source>Для повтора предыдущей команды нажмите кнопку Да, или можете выйти из процесса юстировки.</source>
        <translation>Press Yes to repeat the previous command, or you may leave the calibration.</translation>
    </message>
    <message>
        <source>Ошибка юстировки</source>
        <translation>Calibration error</translation>
    </message>
    <message>
        <source>Ошибка (Запуск процессa юстировки)</source>
        <translation>Error (starting the calibration)</translation>
    </message>
    <message>
        <source>Ошибка (поиск ошибочных коэффициентов)</source>
        <translation>Error (search for wrong coefficients)</translation>
    </message>
    <message>
        <source>Выйти из юстировки?
(нет - повторить с новым каналом)</source>
        <translation>Leave the calibration?
(No - repeat with a new channel)</translation>
    </message>
    <message>
        <source>Попытка юстировки закончилась неудачно; повторить юстировку?</source>
        <translation>The calibration attempt failed; repeat the calibration?</translation>
    </message>
    <message>
        <source>Вопрос о повторе калибкровки</source>
        <translation>Repeat the calibration?</translation>
    </message>
    <message>
        <source>Данные в файле испорчены!</source>
        <translation>The data in the file are damaged!</translation>
    </message>
    <message>
        <source>Файл &quot;%s&quot; не удалось открыть!</source>
        <translation>The file &quot;%s&quot; could not be opened!</translation>
    </message>
    <message>
        <source>Ошибка открытия</source>
        <translation>Open error</translation>
    </message>
    <message>
        <source>В файле сохранено %i параметров, а в активной таблице %i параметров!</source>
        <translation>The file holds %i parameters, but the active table has %i parameters!</translation>
    </message>
    <message>
        <source>Предупреждение</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>Файл &quot;%s&quot; не является файлом конфигурации прибора KBA604.</source>
        <translation>The file &quot;%s&quot; is not a KBA604 configuration file.</translation>
    </message>
    <message>
        <source>Не удалось прочитать файл &quot;%s&quot;: %s</source>
        <translation>Could not read the file &quot;%s&quot;: %s</translation>
    </message>
    <message>
        <source>Не удалось сохранить файл &quot;%s&quot;: %s</source>
        <translation>Could not save the file &quot;%s&quot;: %s</translation>
    </message>
    <message>
        <source>Не удалось открыть файл &quot;%s&quot;: %s</source>
        <translation>Could not open the file &quot;%s&quot;: %s</translation>
    </message>
    <message>
        <source>Файл &quot;%s&quot; не существует.</source>
        <translation>The file &quot;%s&quot; does not exist.</translation>
    </message>
    <message>
        <source>Операция невозможна</source>
        <translation>Operation impossible</translation>
    </message>
    <message>
        <source>Дерево не определено</source>
        <translation>No tree is defined</translation>
    </message>
    <message>
        <source>Ветвь не определена</source>
        <translation>No branch is defined</translation>
    </message>
    <message>
        <source>Загрузка файлов дерева...</source>
        <translation>Loading the tree files...</translation>
    </message>
    <message>
        <source>Архивация данных...</source>
        <translation>Archiving data...</translation>
    </message>
    <message>
        <source>Этот файл уже открыт! При продолжении открытия файла все изменения будут потеряны!

Хотите продолжить открытие файла?</source>
        <translation>This file is open already! If you go on opening it, all changes will be lost!

Do you want to go on opening the file?</translation>
    </message>
    <message>
        <source>Внимание!</source>
        <translation>Attention!</translation>
    </message>
    <message>
        <source>Файл &quot;%s&quot; прочитан не полностью; команда командной строки не выполняется.</source>
        <translation>The file &quot;%s&quot; was not read completely; the command of the command line is not carried out.</translation>
    </message>
    <message>
        <source>Ошибка драйвера последовательного порта</source>
        <translation>Serial port driver error</translation>
    </message>
    <message>
        <source>Заданные сетевые настройки не поддерживаются прибором!</source>
        <translation>The instrument does not support these network settings!</translation>
    </message>
    <message>
        <source>Неудалось изменить значение</source>
        <translation>Could not change the value</translation>
    </message>
    <message>
        <source>Значение адреса должно быть кратно 8!</source>
        <translation>The address must be a multiple of 8!</translation>
    </message>
    <message>
        <source>Неудалось изменить значение сетевого адреса</source>
        <translation>Could not change the network address</translation>
    </message>
    <message>
        <source>Имя файла протокола не может содержать &quot;/&quot; и должно указывать на файл в папке &quot;protocol&quot;.</source>
        <translation>The protocol file name cannot contain &quot;/&quot; and must name a file in the folder &quot;protocol&quot;.</translation>
    </message>
    <message>
        <source>Проверка прибора</source>
        <translation>Instrument check</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Перед инициализацией необходимо остановить опрос оперативных параметров!

Уберите &quot;галочки&quot; со всех параметров в ветви &quot;Опрос оперативных параметров&quot; и повторите попытку.</source>
        <translation>Stop the polling of operational parameters before the initialisation!

Clear the check marks of all parameters in the branch &quot;Опрос оперативных параметров&quot; and try again.</translation>
    </message>
    <message>
        <source>Запись заводских параметров</source>
        <translation>Writing factory parameters</translation>
    </message>
    <message>
        <source>Эта операция приведет к потери конфигурации в программе и в приборе!</source>
        <translation>This operation will lose the configuration in the program and in the instrument!</translation>
    </message>
    <message>
        <source>Вы уверены, что хотите продолжить?</source>
        <translation>Are you sure you want to continue?</translation>
    </message>
    <message>
        <source>Чтение EEPROM из прибора было прервано. Образ EEPROM не записан в файл &quot;%s&quot;.</source>
        <translation>Reading the EEPROM from the instrument was interrupted. The EEPROM image was not written to the file &quot;%s&quot;.</translation>
    </message>
    <message>
        <source>Не удалось записать образ EEPROM в файл &quot;%s&quot;.
%s</source>
        <translation>Could not write the EEPROM image to the file &quot;%s&quot;.
%s</translation>
    </message>
    <message>
        <source>Образ EEPROM загружен в конфигуратор! Хотите записать его в прибор?</source>
        <translation>The EEPROM image is loaded into the configurator! Do you want to write it to the instrument?</translation>
    </message>
    <message>
        <source>Подтверждение</source>
        <translation>Confirmation</translation>
    </message>
    <message>
        <source>Эта операция доступна только на максимальном уровне доступа</source>
        <translation>This operation is available only at the highest access level</translation>
    </message>
    <message>
        <source>Найдены следующие различия:

%s</source>
        <translation>The following differences were found:

%s</translation>
    </message>
    <message>
        <source>Ошибочных параметров не обнаружено!</source>
        <translation>No parameters with errors were found!</translation>
    </message>
    <message>
        <source>Пропущено параметров из-за отсутствия данных: %i</source>
        <translation>Parameters skipped for lack of data: %i</translation>
    </message>
    <message>
        <source>Для этого параметра Вы можете ввести только значение равное &quot;0&quot;!</source>
        <translation>For this parameter you can enter only the value &quot;0&quot;!</translation>
    </message>
    <message>
        <source>Значение не удалось записать в прибор</source>
        <translation>The value could not be written to the instrument</translation>
    </message>
    <message>
        <source>Имела место ошибка</source>
        <translation>An error occurred</translation>
    </message>
    <message>
        <source>Нет данных - контекст устройства не получен диалогом APLY

Внутренняя ошибка программы</source>
        <translation>No data - the APLY dialog got no device context

Internal program error</translation>
    </message>
    <message>
        <source>Нет данных - элемент &apos;Сетевые параметры прибора&apos; не инициализирован

Внутренняя ошибка программы</source>
        <translation>No data - the element &apos;Сетевые параметры прибора&apos; is not initialised

Internal program error</translation>
    </message>
    <message>
        <source>Перевод прибора на новый протокол обмена</source>
        <translation>Switching the instrument to a new protocol</translation>
    </message>
    <message>
        <source>Нельзя выполнить эту операцию, так как включен опрос оперативных параметров.
Выключите опрос всех оперативных параметров, затем повторите попытку.</source>
        <translation>This operation cannot be carried out while operational parameters are being polled.
Switch off the polling of all operational parameters, then try again.</translation>
    </message>
    <message>
        <source>Запуск / Остановка регулирования</source>
        <translation>Start / Stop control</translation>
    </message>
    <message>
        <source>Не найден параметр &quot;r.st&quot;!</source>
        <translation>The parameter &quot;r.st&quot; was not found!</translation>
    </message>
    <message>
        <source>Попытка запуска прибора по сети RS485 неудачна.
 Возможно управление прибором по сети заблокировано параметром NET.S</source>
        <translation>Starting the instrument over the RS485 network failed.
 Control over the network may be locked by the parameter NET.S</translation>
    </message>
    <message>
        <source>Попытка остановки прибора по сети RS485 неудачна.
 Возможно управление прибором по сети заблокировано параметром NET.S</source>
        <translation>Stopping the instrument over the RS485 network failed.
 Control over the network may be locked by the parameter NET.S</translation>
    </message>
    <message>
        <source>Период опроса должен быть задан числом в миллисекундах.
Период опроса не может быть меньше 1000 миллисекунд</source>
        <translation>The polling period must be given as a number of milliseconds.
The polling period cannot be less than 1000 milliseconds</translation>
    </message>
    <message>
        <source>Неудалось изменить период опроса</source>
        <translation>Could not change the polling period</translation>
    </message>
    <message>
        <source>Не могу запустить поток (ScanThread), необходимый для работы сканеров</source>
        <translation>Cannot start the thread (ScanThread) that the scanners need</translation>
    </message>
    <message>
        <source>Произвольный доступ к отдельным параметрам (Single Point)</source>
        <translation>Direct access to single parameters (Single Point)</translation>
    </message>
    <message>
        <source>Такой параметр не найден в таблице параметров!
Проверьте правильность написания.</source>
        <translation>No such parameter in the parameter table!
Check the spelling.</translation>
    </message>
    <message>
        <source>Параметр не найден</source>
        <translation>Parameter not found</translation>
    </message>
    <message>
        <source>Данный параметр не найден!
Возможно, ошибка в индексе параметра.</source>
        <translation>This parameter was not found!
The parameter index may be wrong.</translation>
    </message>
    <message>
        <source>Сообщение</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>Программа уже запущена!</source>
        <translation>The program is running already!</translation>
    </message>
    <message>
        <source>Результат сравнения</source>
        <translation>Comparison result</translation>
    </message>
    <message>
        <source>Идет чтение параметров из прибора</source>
        <translation>Reading parameters from the instrument</translation>
    </message>
    <message>
        <source>Идет запись параметров в прибор</source>
        <translation>Writing parameters to the instrument</translation>
    </message>
    <message>
        <source>Идет запись измененных значений параметров в прибор</source>
        <translation>Writing changed parameter values to the instrument</translation>
    </message>
    <message>
        <source>Идет сравнение параметров в конфигурации и в приборе</source>
        <translation>Comparing the parameters of the configuration and of the instrument</translation>
    </message>
    <message>
        <source>Идет инициализация прибора</source>
        <translation>Initialising the instrument</translation>
    </message>
    <message>
        <source>Идет считывание EEPROM из прибора</source>
        <translation>Reading the EEPROM from the instrument</translation>
    </message>
    <message>
        <source>Идет запись EEPROM в прибор</source>
        <translation>Writing the EEPROM to the instrument</translation>
    </message>
    <message>
        <source>Идет чтение группы параметров из прибора</source>
        <translation>Reading a group of parameters from the instrument</translation>
    </message>
    <message>
        <source>Идет запись группы параметров в прибор</source>
        <translation>Writing a group of parameters to the instrument</translation>
    </message>
    <message>
        <source>Идет сравнение группы значений параметров</source>
        <translation>Comparing a group of parameter values</translation>
    </message>
    <message>
        <source>Прибор &lt;==&gt; программа</source>
        <translation>Instrument &lt;==&gt; program</translation>
    </message>
    <message>
        <source>Остановить</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Автоматически закрывать окно</source>
        <translation>Close the window automatically</translation>
    </message>
    <message>
        <source>Продолжительность:</source>
        <translation>Duration:</translation>
    </message>
    <message>
        <source>Обработано пар-ов:</source>
        <translation>Parameters processed:</translation>
    </message>
    <message>
        <source>с ошибками:</source>
        <translation>with errors:</translation>
    </message>
    <message>
        <source>Перевод прибора на новый режим работы</source>
        <translation>Switching the instrument to a new mode of operation</translation>
    </message>
    <message>
        <source>ВНИМАНИЕ: Данная операция приведет к переключению прибора на новые сетевые параметры. Это может привести к потере связи с прибором. Проверьте параметры связи:</source>
        <translation>ATTENTION: This operation switches the instrument to new network settings. The connection to the instrument may be lost. Check the connection settings:</translation>
    </message>
    <message>
        <source>Новые параметры:</source>
        <translation>New settings:</translation>
    </message>
    <message>
        <source>Параметры можно посмотреть в дереве №26
&quot;Мастер Сети&quot;</source>
        <translation>The settings can be seen in tree No. 26
&quot;Мастер Сети&quot;</translation>
    </message>
    <message>
        <source>Поменять сразу сетевые настройки программы</source>
        <translation>Change the program&apos;s network settings at once</translation>
    </message>
    <message>
        <source>Поcлать широковещательную команду APLY</source>
        <translation>Send the APLY command as a broadcast</translation>
    </message>
    <message>
        <source>Поcлать посылку трижды (для надежности)</source>
        <translation>Send the frame three times (for reliability)</translation>
    </message>
    <message>
        <source>Описание параметра</source>
        <translation>Parameter description</translation>
    </message>
    <message>
        <source>Очистка данных</source>
        <translation>Clearing Data</translation>
    </message>
    <message>
        <source>Удалить все сохраненные данные до следующей даты, включительно:</source>
        <translation>Delete all stored data up to and including this date:</translation>
    </message>
    <message>
        <source>Количество удаленных файлов: %i.</source>
        <translation>Files deleted: %i.</translation>
    </message>
    <message>
        <source>Экспорт протокола измерений</source>
        <translation>Export Measurement Protocol</translation>
    </message>
    <message>
        <source>Не найдено приложение для открытия файлов .xlsx. Отчет сохранен в файле:
%s</source>
        <translation>No application was found to open .xlsx files. The report is saved in the file:
%s</translation>
    </message>
    <message>
        <source>Не удалось открыть отчет в броузере. Отчет сохранен в файле:
%s</source>
        <translation>Could not open the report in the browser. The report is saved in the file:
%s</translation>
    </message>
    <message>
        <source>За выбранный период нет записей протокола измерений.</source>
        <translation>The measurement protocol has no records for the chosen period.</translation>
    </message>
    <message>
        <source>Установка сетевых параметров программы</source>
        <translation>Setting the program&apos;s network parameters</translation>
    </message>
    <message>
        <source>Параметры порта</source>
        <translation>Port settings</translation>
    </message>
    <message>
        <source>Значение</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>Идет сканирование...</source>
        <translation>Scanning...</translation>
    </message>
    <message>
        <source>Идет сканирование на скорости %s...</source>
        <translation>Scanning at %s...</translation>
    </message>
    <message>
        <source>Связь установлена!</source>
        <translation>Connected!</translation>
    </message>
    <message>
        <source>Не удалось установить связь с прибором!</source>
        <translation>Could not connect to the instrument!</translation>
    </message>
    <message>
        <source>Прерывание операции...</source>
        <translation>Interrupting the operation...</translation>
    </message>
    <message>
        <source>Не удается открыть порт %s. Связь с сетью отсутствует. Проверьте сетевые параметры</source>
        <translation>Cannot open the port %s. There is no connection to the network. Check the network settings</translation>
    </message>
    <message>
        <source>Параметер &apos;%s&apos; (%s) имеет подозрительный линейный индекс.</source>
        <translation>The parameter &apos;%s&apos; (%s) has a suspicious linear index.</translation>
    </message>
    <message>
        <source>Параметру присвоено значение %s</source>
        <translation>The parameter was given the value %s</translation>
    </message>
    <message>
        <source>Прибор: %s</source>
        <translation>Instrument: %s</translation>
    </message>
    <message>
        <source>Ошибка команды &apos;dev&apos;:</source>
        <translation>The command &apos;dev&apos; failed:</translation>
    </message>
    <message>
        <source>Версия прошивки: %s</source>
        <translation>Firmware version: %s</translation>
    </message>
    <message>
        <source>Ошибка команды &apos;ver&apos;:</source>
        <translation>The command &apos;ver&apos; failed:</translation>
    </message>
    <message>
        <source>Файл описания прибора &quot;%s&quot; не загружен: %s.</source>
        <translation>The instrument description file &quot;%s&quot; was not loaded: %s.</translation>
    </message>
    <message>
        <source>В таблице параметров &quot;%s&quot; нет параметра &quot;ver&quot;: версия программы прибора не проверяется.</source>
        <translation>The parameter table &quot;%s&quot; has no parameter &quot;ver&quot;: the instrument firmware version is not checked.</translation>
    </message>
    <message>
        <source>Программа продолжит работу без него.</source>
        <translation>The program will go on without it.</translation>
    </message>
    <message>
        <source>Обнаружено %i отличий (показанны только первые 10):</source>
        <translation>%i differences found (only the first 10 are shown):</translation>
    </message>
    <message>
        <source>Обнаружено %i отличий:</source>
        <translation>%i differences found:</translation>
    </message>
    <message>
        <source>Отличий не обнаружено</source>
        <translation>No differences found</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Монитор обмена</source>
        <translation>Traffic monitor</translation>
    </message>
    <message>
        <source>&amp;Прибор</source>
        <translation>&amp;Instrument</translation>
    </message>
    <message>
        <source>Сохранение файла...</source>
        <translation>Saving the file...</translation>
    </message>
    <message>
        <source>&amp;Дерево</source>
        <translation>&amp;Tree</translation>
    </message>
    <message>
        <source>Открыть записанный день в графике...</source>
        <translation>Open a Recorded Day in the Chart...</translation>
    </message>
</context>
<context>
    <name>kba604::CCleanDataDlg</name>
    <message>
        <source>MMMM yyyyг.</source>
        <translation>MMMM yyyy</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>kba604::CExportOperDlg</name>
    <message>
        <source>Экспорт по периоду времени</source>
        <translation>Export a period of time</translation>
    </message>
    <message>
        <source>Экспорт по файлу</source>
        <translation>Export a file</translation>
    </message>
    <message>
        <source>Укажите за какой период времени хотите просмотреть отчет измерений:</source>
        <translation>Choose the period for the measurement report:</translation>
    </message>
    <message>
        <source>От</source>
        <translation>From</translation>
    </message>
    <message>
        <source>До</source>
        <translation>To</translation>
    </message>
    <message>
        <source>Выберите файл данных для экспорта:</source>
        <translation>Choose the data file to export:</translation>
    </message>
    <message>
        <source>Фильтр:</source>
        <translation>Filter:</translation>
    </message>
    <message>
        <source>Все оперативные параметры протокола</source>
        <translation>All operational parameters of the protocol</translation>
    </message>
    <message>
        <source>Только измерители (rEAd)</source>
        <translation>Measurements only (rEAd)</translation>
    </message>
    <message>
        <source>Только уставки (Set.P)</source>
        <translation>Set points only (Set.P)</translation>
    </message>
    <message>
        <source>Только значение выходного сигнала (r.OUt)</source>
        <translation>Output signal value only (r.OUt)</translation>
    </message>
    <message>
        <source>Показать отчет в броузере</source>
        <translation>Show the report in the browser</translation>
    </message>
    <message>
        <source>Показать отчет в MS Excel</source>
        <translation>Show the report in a spreadsheet (MS Excel)</translation>
    </message>
    <message>
        <source>Начать экспорт данных</source>
        <translation>Start exporting data</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Отменить экспорт данных</source>
        <translation>Cancel the data export</translation>
    </message>
    <message>
        <source>Очистка</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Очистка архива данных</source>
        <translation>Clear the data archive</translation>
    </message>
</context>
<context>
    <name>kba604::CTrendDayDlg</name>
    <message>
        <source>Открыть записанный день</source>
        <translation>Open a Recorded Day</translation>
    </message>
    <message>
        <source>(архив %1)</source>
        <translation>(archive %1)</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Записанных дней нет.</source>
        <translation>There are no recorded days.</translation>
    </message>
    <message>
        <source>Выберите день для показа на графике:</source>
        <translation>Choose the day to show on the chart:</translation>
    </message>
</context>
<context>
    <name>kba604::Dialogs::CCalibrate</name>
    <message>
        <source>Создание юстировки</source>
        <translation>Create Calibration</translation>
    </message>
    <message>
        <source>Тип датчика:</source>
        <translation>Sensor type:</translation>
    </message>
    <message>
        <source>Номер входа:</source>
        <translation>Input number:</translation>
    </message>
    <message>
        <source>Введите код доступа:</source>
        <translation>Enter the access code:</translation>
    </message>
    <message>
        <source>Продолжить</source>
        <translation>Continue</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Выберите тип:</source>
        <translation>Choose the type:</translation>
    </message>
</context>
<context>
    <name>kba604::Dialogs::CCalibrate2</name>
    <message>
        <source>Продолжить</source>
        <translation>Continue</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>kba604::Dialogs::CRegulDlg</name>
    <message>
        <source>№ объекта</source>
        <translation>Object No.</translation>
    </message>
    <message>
        <source>Описание</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>Параметр</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>Значение</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>Запуск по сети:</source>
        <translation>Start over the network:</translation>
    </message>
    <message>
        <source>Запустить</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Остановить</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>kba604::Dialogs::CSinglePoint</name>
    <message>
        <source>Определите команду:</source>
        <translation>Define the command:</translation>
    </message>
    <message>
        <source>Хеш-код:</source>
        <translation>Hash code:</translation>
    </message>
    <message>
        <source>Наличие лин-го индекса:</source>
        <translation>With linear index:</translation>
    </message>
    <message>
        <source>Начальный индекс параметра, а также индекс, используемый при поиске в дереве.</source>
        <translation>The parameter&apos;s first index, also the index used to find it in the tree.</translation>
    </message>
    <message>
        <source>Конечный индекс параметра.</source>
        <translation>The parameter&apos;s last index.</translation>
    </message>
    <message>
        <source>Индекс в поле данных</source>
        <translation>Index in the data field</translation>
    </message>
    <message>
        <source>Индекс в адресе (3 бит)</source>
        <translation>Index in the address (3 bits)</translation>
    </message>
    <message>
        <source>от</source>
        <translation>from</translation>
    </message>
    <message>
        <source>до</source>
        <translation>to</translation>
    </message>
    <message>
        <source>Операция:</source>
        <translation>Operation:</translation>
    </message>
    <message>
        <source>Чтение</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Запись</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>Что записать:</source>
        <translation>Value to write:</translation>
    </message>
    <message>
        <source>Выполнить!</source>
        <translation>Execute!</translation>
    </message>
    <message>
        <source>Найти и показать этот параметр в &quot;дереве&quot;</source>
        <translation>Find and show this parameter in the &quot;tree&quot;</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Протокол обмена данными с прибором:</source>
        <translation>Log of the data exchange with the instrument:</translation>
    </message>
</context>
<context>
    <name>kba604::LineScanPanel</name>
    <message>
        <source>Поиск приборов на линии</source>
        <translation>Find Instruments on the Line</translation>
    </message>
    <message>
        <source>Адреса с</source>
        <translation>Addresses from</translation>
    </message>
    <message>
        <source>по</source>
        <translation>to</translation>
    </message>
    <message>
        <source>с шагом 8</source>
        <translation>in steps of 8</translation>
    </message>
    <message>
        <source>Скорости</source>
        <translation>Speeds</translation>
    </message>
    <message>
        <source>Все скорости</source>
        <translation>All speeds</translation>
    </message>
    <message>
        <source>Формат символа</source>
        <translation>Character format</translation>
    </message>
    <message>
        <source>Сканировать</source>
        <translation>Scan</translation>
    </message>
    <message>
        <source>Остановить</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Выбрать</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>%v из %m</source>
        <translation>%v of %m</translation>
    </message>
    <message>
        <source>Адрес</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>Скорость</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>Формат</source>
        <translation>Format</translation>
    </message>
    <message>
        <source>Модель</source>
        <translation>Model</translation>
    </message>
    <message>
        <source>Версия</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>Не выбрано ни одной скорости.</source>
        <translation>No speed is selected.</translation>
    </message>
    <message>
        <source>Не выбрано ни одного формата символа.</source>
        <translation>No character format is selected.</translation>
    </message>
    <message>
        <source>Между адресами %1 и %2 нет адреса, кратного 8.</source>
        <translation>There is no multiple of 8 between the addresses %1 and %2.</translation>
    </message>
    <message>
        <source>Линия занята: дождитесь конца проверки связи.</source>
        <translation>The line is busy: wait until the connection check ends.</translation>
    </message>
    <message>
        <source>Прерывание сканирования...</source>
        <translation>Interrupting the scan...</translation>
    </message>
    <message>
        <source>Скорость %1, %2, адрес %3 (%4 из %5)</source>
        <translation>Speed %1, %2, address %3 (%4 of %5)</translation>
    </message>
    <message>
        <source> (11 бит)</source>
        <translation> (11 bits)</translation>
    </message>
    <message>
        <source>Сканирование прервано. Найдено приборов: %1.</source>
        <translation>Scan interrupted. Instruments found: %1.</translation>
    </message>
    <message>
        <source>Ни один прибор не ответил.</source>
        <translation>No instrument answered.</translation>
    </message>
    <message>
        <source>Сканирование завершено. Найдено приборов: %1.</source>
        <translation>Scan finished. Instruments found: %1.</translation>
    </message>
    <message>
        <source> бод</source>
        <translation> baud</translation>
    </message>
    <message>
        <source>, адрес </source>
        <translation>, address </translation>
    </message>
</context>
<context>
    <name>kba604::LinkIndicator</name>
    <message>
        <source>Без порта</source>
        <translation>No port</translation>
    </message>
    <message>
        <source>Программа работает без последовательного порта</source>
        <translation>The program works without a serial port</translation>
    </message>
    <message>
        <source> - порт пропал</source>
        <translation> - port lost</translation>
    </message>
    <message>
        <source>Порт пропал (устройство отключено); программа откроет его снова, когда устройство вернется</source>
        <translation>The port vanished (the device was unplugged); the program will open it again when the device returns</translation>
    </message>
    <message>
        <source>Прибор отвечает</source>
        <translation>The instrument answers</translation>
    </message>
    <message>
        <source>Прибор не отвечает</source>
        <translation>The instrument does not answer</translation>
    </message>
    <message>
        <source>Порт не открылся</source>
        <translation>The port did not open</translation>
    </message>
    <message>
        <source>Обмена с прибором при этих настройках еще не было</source>
        <translation>No exchange with the instrument with these settings yet</translation>
    </message>
    <message>
        <source>%1: %2, %3%4%5, адрес %6</source>
        <translation>%1: %2, %3%4%5, address %6</translation>
    </message>
</context>
<context>
    <name>kba604::MainWindow</name>
    <message>
        <source>&amp;Файл</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>&amp;Новый</source>
        <translation>&amp;New</translation>
    </message>
    <message>
        <source>&amp;Открыть...</source>
        <translation>&amp;Open...</translation>
    </message>
    <message>
        <source>&amp;Сохранить</source>
        <translation>&amp;Save</translation>
    </message>
    <message>
        <source>Сохранить &amp;как...</source>
        <translation>Save &amp;As...</translation>
    </message>
    <message>
        <source>Экспорт списка параметров в HTML</source>
        <translation>Export Parameter List to HTML</translation>
    </message>
    <message>
        <source>Экспорт протокола измерений...</source>
        <translation>Export Measurement Protocol...</translation>
    </message>
    <message>
        <source>Последние файлы</source>
        <translation>Recent Files</translation>
    </message>
    <message>
        <source>В&amp;ыход</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>&amp;Режимы программы</source>
        <translation>Program &amp;Modes</translation>
    </message>
    <message>
        <source>Скрывать свернутое окно</source>
        <translation>Hide Minimised Window</translation>
    </message>
    <message>
        <source>Преобразователь</source>
        <translation>Converter</translation>
    </message>
    <message>
        <source>Полуавтоматический (KP-5)</source>
        <translation>Semi-automatic (KP-5)</translation>
    </message>
    <message>
        <source>Автоматический</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>Сетевые параметры программы</source>
        <translation>Program Network Settings</translation>
    </message>
    <message>
        <source>&amp;Прибор</source>
        <translation>&amp;Instrument</translation>
    </message>
    <message>
        <source>Проверка связи</source>
        <translation>Connection Check</translation>
    </message>
    <message>
        <source>Считать все параметры</source>
        <translation>Read All Parameters</translation>
    </message>
    <message>
        <source>Записать все параметры</source>
        <translation>Write All Parameters</translation>
    </message>
    <message>
        <source>Записать только измененные параметры</source>
        <translation>Write Changed Parameters Only</translation>
    </message>
    <message>
        <source>Записать только параметры с ошибками</source>
        <translation>Write Parameters with Errors Only</translation>
    </message>
    <message>
        <source>Сравнить с реальными значениями</source>
        <translation>Compare with Instrument Values</translation>
    </message>
    <message>
        <source>Считать все параметры выделенной ветви</source>
        <translation>Read All Parameters of the Selected Branch</translation>
    </message>
    <message>
        <source>Записать все параметры выделенной ветви</source>
        <translation>Write All Parameters of the Selected Branch</translation>
    </message>
    <message>
        <source>Записать только измененные параметры ветви</source>
        <translation>Write Changed Parameters of the Branch Only</translation>
    </message>
    <message>
        <source>Сравнить параметры ветви с параметрами в приборе</source>
        <translation>Compare the Branch with the Instrument</translation>
    </message>
    <message>
        <source>Записать заводские параметры в прибор</source>
        <translation>Write Factory Parameters to the Instrument</translation>
    </message>
    <message>
        <source>Опрос отдельного параметра...</source>
        <translation>Single Parameter Access...</translation>
    </message>
    <message>
        <source>Запуск / Остановка регулирования...</source>
        <translation>Start / Stop Control...</translation>
    </message>
    <message>
        <source>Юстировка входов...</source>
        <translation>Input Calibration...</translation>
    </message>
    <message>
        <source>Послать команду APLY</source>
        <translation>Send APLY Command</translation>
    </message>
    <message>
        <source>Послать команду PRTL</source>
        <translation>Send PRTL Command</translation>
    </message>
    <message>
        <source>Сохранить образ EEPROM...</source>
        <translation>Save EEPROM Image...</translation>
    </message>
    <message>
        <source>Загрузить образ EEPROM...</source>
        <translation>Load EEPROM Image...</translation>
    </message>
    <message>
        <source>&amp;Дерево</source>
        <translation>&amp;Tree</translation>
    </message>
    <message>
        <source>К предыдущему проблемному параметру дерева</source>
        <translation>Previous Problem Parameter in the Tree</translation>
    </message>
    <message>
        <source>К следующему проблемному параметру дерева</source>
        <translation>Next Problem Parameter in the Tree</translation>
    </message>
    <message>
        <source>Найти параметр...</source>
        <translation>Find Parameter...</translation>
    </message>
    <message>
        <source>Комментарий к параметру</source>
        <translation>Parameter Comment</translation>
    </message>
    <message>
        <source>&amp;Справка</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>Справка</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Сайт производителя</source>
        <translation>Manufacturer&apos;s Website</translation>
    </message>
    <message>
        <source>О программе...</source>
        <translation>About...</translation>
    </message>
    <message>
        <source>Прочитать параметр</source>
        <translation>Read Parameter</translation>
    </message>
    <message>
        <source>Записать параметр</source>
        <translation>Write Parameter</translation>
    </message>
    <message>
        <source>Сравнить параметр</source>
        <translation>Compare Parameter</translation>
    </message>
    <message>
        <source>Стандартная</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>Проверка связи (vEr, dEv)</source>
        <translation>Connection check (vEr, dEv)</translation>
    </message>
    <message>
        <source>Показать окно</source>
        <translation>Show Window</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Открыть</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Сохранить как</source>
        <translation>Save As</translation>
    </message>
    <message>
        <source>Найти параметр</source>
        <translation>Find Parameter</translation>
    </message>
    <message>
        <source>Имя или название параметра:</source>
        <translation>Parameter name or title:</translation>
    </message>
    <message>
        <source>Параметр &quot;%1&quot; не найден.</source>
        <translation>Parameter &quot;%1&quot; not found.</translation>
    </message>
    <message>
        <source>Комментарий к параметру отсутствует.</source>
        <translation>This parameter has no comment.</translation>
    </message>
    <message>
        <source>Конфигуратор прибора KBA604
Версия %1
%2</source>
        <translation>KBA604 instrument configurator
Version %1
%2</translation>
    </message>
    <message>
        <source>О программе KBA604</source>
        <translation>About KBA604</translation>
    </message>
    <message>
        <source>Загрузка файла...</source>
        <translation>Loading the file...</translation>
    </message>
    <message>
        <source>Сохранение файла...</source>
        <translation>Saving the file...</translation>
    </message>
    <message>
        <source>Для вывода комментария по параметру выделите его и нажмите F1</source>
        <translation>To see a parameter&apos;s comment, select it and press F1</translation>
    </message>
    <message>
        <source>Создание дерева...</source>
        <translation>Building the tree...</translation>
    </message>
    <message>
        <source>Файлы конфигураций (*.604)</source>
        <translation>Configuration files (*.604)</translation>
    </message>
    <message>
        <source>Показывать линейные индексы</source>
        <translation>Show Linear Indexes</translation>
    </message>
    <message>
        <source>Режим автоматического считывания</source>
        <translation>Automatic Read Mode</translation>
    </message>
    <message>
        <source>Режим немедленной записи</source>
        <translation>Immediate Write Mode</translation>
    </message>
    <message>
        <source>Не передавать атрибуты параметров</source>
        <translation>Do Not Transfer Parameter Attributes</translation>
    </message>
    <message>
        <source>Прочитать все параметры выделенной ветви</source>
        <translation>Read All Parameters of the Selected Branch</translation>
    </message>
    <message>
        <source>Записать только измененные параметры выделенной ветви</source>
        <translation>Write Changed Parameters of the Selected Branch Only</translation>
    </message>
    <message>
        <source>Сравнить значения с реальными в пределах выделеной ветви</source>
        <translation>Compare Values with the Instrument within the Selected Branch</translation>
    </message>
    <message>
        <source>%1 %2 из %3, %4 %5</source>
        <translation>%1 %2 of %3, %4 %5</translation>
    </message>
    <message>
        <source>Сохранить изменения в &quot;%1&quot;?</source>
        <translation>Save changes to &quot;%1&quot;?</translation>
    </message>
</context>
<context>
    <name>kba604::ParameterTreeModel</name>
    <message>
        <source>     Имя параметра</source>
        <translation>     Parameter name</translation>
    </message>
    <message>
        <source>Период, мс</source>
        <translation>Period, ms</translation>
    </message>
    <message>
        <source>Значение</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>Ошибки ввода-вывода</source>
        <translation>I/O errors</translation>
    </message>
    <message>
        <source>Описание</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>Параметр</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>Атрибут редактирования</source>
        <translation>Edit attribute</translation>
    </message>
    <message>
        <source>Владелец</source>
        <translation>Owner</translation>
    </message>
    <message>
        <source>Ошибки обмена и несоответствия</source>
        <translation>Exchange errors and differences</translation>
    </message>
</context>
<context>
    <name>kba604::PollingBinding</name>
    <message>
        <source>График опрашиваемых параметров</source>
        <translation>Chart of Polled Parameters</translation>
    </message>
</context>
<context>
    <name>kba604::ProgressWindow</name>
    <message>
        <source>%1 из %2</source>
        <translation>%1 of %2</translation>
    </message>
</context>
<context>
    <name>kba604::SetupCarrierDialog</name>
    <message>
        <source>Установить связь</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Сканирование сети</source>
        <translation>Scan the Network</translation>
    </message>
    <message>
        <source>Заводские сетевые параметры прибора</source>
        <translation>Factory Network Settings of the Instrument</translation>
    </message>
    <message>
        <source>Работать offline</source>
        <translation>Work Offline</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
</context>
<context>
    <name>kba604::TrafficMonitor</name>
    <message>
        <source>Монитор обмена</source>
        <translation>Traffic monitor</translation>
    </message>
    <message>
        <source>Параметр:</source>
        <translation>Parameter:</translation>
    </message>
    <message>
        <source>имя или хеш</source>
        <translation>name or hash</translation>
    </message>
    <message>
        <source>Только сбои</source>
        <translation>Failures only</translation>
    </message>
    <message>
        <source>Пауза</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Очистить</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Сохранить текст...</source>
        <translation>Save Text...</translation>
    </message>
    <message>
        <source>Сохранить CSV...</source>
        <translation>Save CSV...</translation>
    </message>
    <message>
        <source>Продолжить</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>Передач: %1, не показано (монитор не успевал): %2</source>
        <translation>Frames: %1, not shown (the monitor fell behind): %2</translation>
    </message>
    <message>
        <source>Не удалось записать файл &quot;%1&quot;: %2</source>
        <translation>Could not write the file &quot;%1&quot;: %2</translation>
    </message>
    <message>
        <source>Сохранить обмен</source>
        <translation>Save Traffic</translation>
    </message>
    <message>
        <source>Таблицы CSV (*.csv)</source>
        <translation>CSV tables (*.csv)</translation>
    </message>
    <message>
        <source>Текст (*.txt)</source>
        <translation>Text (*.txt)</translation>
    </message>
</context>
<context>
    <name>kba604::TrendDays</name>
    <message>
        <source>Чтение записанных данных за %1...</source>
        <translation>Reading the data recorded on %1...</translation>
    </message>
    <message>
        <source>Чтение записанных данных за %1: %2 %</source>
        <translation>Reading the data recorded on %1: %2 %</translation>
    </message>
</context>
<context>
    <name>kba604::TrendView</name>
    <message>
        <source>%1 мин</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 ч</source>
        <translation>%1 h</translation>
    </message>
    <message>
        <source>Время</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Пауза</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Сохранить PNG...</source>
        <translation>Save PNG...</translation>
    </message>
    <message>
        <source>Сохранить CSV...</source>
        <translation>Save CSV...</translation>
    </message>
    <message>
        <source>Окно:</source>
        <translation>Window:</translation>
    </message>
    <message>
        <source>Сохранить график</source>
        <translation>Save Chart</translation>
    </message>
    <message>
        <source>Сохранить данные графика</source>
        <translation>Save Chart Data</translation>
    </message>
    <message>
        <source>Продолжить</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>Открыть день...</source>
        <translation>Open Day...</translation>
    </message>
    <message>
        <source>Показать записанные данные одного из прошлых дней</source>
        <translation>Show the data recorded on one of the past days</translation>
    </message>
    <message>
        <source>Текущие данные</source>
        <translation>Current data</translation>
    </message>
    <message>
        <source>Вернуться к опрашиваемым сейчас параметрам</source>
        <translation>Back to the parameters polled now</translation>
    </message>
    <message>
        <source>Записанные данные за %1</source>
        <translation>Data recorded on %1</translation>
    </message>
    <message>
        <source> (из архива)</source>
        <translation> (from the archive)</translation>
    </message>
</context>
</TS>
